#include "Updater/CommandLine.h"

#include "System/Platform.h"
#include "System/String/AnsiWide.h"

#include <cstdlib>
#include <cwchar>

namespace OV::Updater
{

namespace
{

const wchar_t kInstallerArgs[] = L"/installerargs=";
constexpr size_t kInstallerArgsLength = 15;

wchar_t FoldAsciiCase(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Only the letters A to Z fold; every other character must be equal.
bool StartsWithIgnoringAsciiCase(const std::wstring& argument, const std::wstring& prefix)
{
    if (argument.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
    {
        if (FoldAsciiCase(argument[i]) != FoldAsciiCase(prefix[i]))
            return false;
    }
    return true;
}

bool EqualsIgnoringAsciiCase(const std::wstring& argument, const std::wstring& text)
{
    return argument.size() == text.size() && StartsWithIgnoringAsciiCase(argument, text);
}

enum class MatchKind
{
    Prefix,
    Whole
};

enum class Option
{
    Product,
    DpValue,
    DpNext,
    Channel,
    Dev,
    Locale,
    From,
    PatchUrl,
    AppArgs,
    Prompt,
    Notify,
    NoProgress,
    ParkPath,
    NoParking,
    EmitDownloadProgress,
    InstallerArgs
};

struct OptionEntry
{
    const wchar_t* text;
    MatchKind kind;
    Option option;
};

// Matching order matters: "/dp=" is tried before the three-letter prefix "/dp".
const OptionEntry kOptions[] = {
    {L"/product=", MatchKind::Prefix, Option::Product},
    {L"/dp=", MatchKind::Prefix, Option::DpValue},
    {L"/dp", MatchKind::Prefix, Option::DpNext},
    {L"/channel=", MatchKind::Prefix, Option::Channel},
    {L"/dev", MatchKind::Whole, Option::Dev},
    {L"/locale=", MatchKind::Prefix, Option::Locale},
    {L"/from=", MatchKind::Prefix, Option::From},
    {L"/patchURL=", MatchKind::Prefix, Option::PatchUrl},
    {L"/appargs=", MatchKind::Prefix, Option::AppArgs},
    {L"/prompt", MatchKind::Whole, Option::Prompt},
    {L"/notify", MatchKind::Whole, Option::Notify},
    {L"/noprog", MatchKind::Whole, Option::NoProgress},
    {L"/parkpath=", MatchKind::Prefix, Option::ParkPath},
    {L"/noparking", MatchKind::Whole, Option::NoParking},
    {L"/emitdownloadprogress", MatchKind::Whole, Option::EmitDownloadProgress},
    {kInstallerArgs, MatchKind::Prefix, Option::InstallerArgs},
};

const OptionEntry* FindOption(const std::wstring& argument)
{
    for (const OptionEntry& entry : kOptions)
    {
        const bool matches = entry.kind == MatchKind::Prefix
                                 ? StartsWithIgnoringAsciiCase(argument, entry.text)
                                 : EqualsIgnoringAsciiCase(argument, entry.text);
        if (matches)
            return &entry;
    }
    return nullptr;
}

} // namespace

RunOptions ParseCommandLine(const std::wstring& commandLine, const std::vector<std::wstring>& arguments)
{
    RunOptions options;

    // The installer's arguments are cut from the raw text, so quotes and blanks reach it unchanged.
    if (commandLine.size() >= kInstallerArgsLength)
    {
        const size_t at = commandLine.find(kInstallerArgs);
        if (at != std::wstring::npos)
            options.installerArgs = commandLine.substr(at + kInstallerArgsLength);
    }

    for (size_t i = 1; i < arguments.size(); ++i)
    {
        const std::wstring& argument = arguments[i];
        const OptionEntry* entry = FindOption(argument);
        if (entry == nullptr)
            continue;
        const std::wstring value = argument.substr(std::wcslen(entry->text));
        switch (entry->option)
        {
        case Option::Product:
            options.product = value;
            break;
        case Option::DpValue:
            options.dp = value;
            break;
        case Option::DpNext:
            // The next argument is read, not consumed: it is examined as an option in its own turn.
            if (i + 1 < arguments.size())
                options.dp = arguments[i + 1];
            break;
        case Option::Channel:
            options.channel = OV::WideToAnsi(value);
            break;
        case Option::Dev:
            options.dev = true;
            break;
        case Option::Locale:
            options.locale = value;
            break;
        case Option::From:
            options.from = value;
            break;
        case Option::PatchUrl:
            options.patchURL = value;
            break;
        case Option::AppArgs:
            options.appArgs = value;
            break;
        case Option::Prompt:
            options.prompt = true;
            break;
        case Option::Notify:
            options.notify = true;
            break;
        case Option::NoProgress:
            options.showProgress = false;
            break;
        case Option::ParkPath:
            options.parkPath = value;
            break;
        case Option::NoParking:
            options.parking = false;
            break;
        case Option::EmitDownloadProgress:
            options.emitDownloadProgress = true;
            break;
        case Option::InstallerArgs:
            // Everything after it belongs to the installer.
            return options;
        }
    }
    return options;
}

RunOptions ParseCommandLine()
{
    const wchar_t* raw = ::GetCommandLineW();
    std::vector<std::wstring> arguments;
    for (int i = 0; i < __argc && __wargv != nullptr; ++i)
        arguments.emplace_back(__wargv[i] != nullptr ? __wargv[i] : L"");
    return ParseCommandLine(raw != nullptr ? raw : L"", arguments);
}

} // namespace OV::Updater
