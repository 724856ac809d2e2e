#include "Updater/OptionsText.h"

#include <cwchar>

namespace OV::Updater
{

namespace
{

std::wstring Escape(const std::wstring& text)
{
    std::wstring escaped;
    for (wchar_t c : text)
    {
        if (c >= 0x20 && c < 0x7F && c != L'\\')
        {
            escaped += c;
            continue;
        }
        wchar_t code[8] = {};
        std::swprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
        escaped += code;
    }
    return escaped;
}

std::wstring Flag(bool value)
{
    return value ? L"1" : L"0";
}

} // namespace

std::vector<std::wstring> DescribeOptions(const RunOptions& options)
{
    std::wstring channel;
    for (char c : options.channel)
        channel += static_cast<wchar_t>(static_cast<unsigned char>(c));
    auto text = [](const wchar_t* name, const std::wstring& value)
    { return std::wstring(name) + L"=[" + Escape(value) + L"]"; };
    auto flag = [](const wchar_t* name, bool value) { return std::wstring(name) + L"=" + Flag(value); };
    return {text(L"product", options.product),
            text(L"dp", options.dp),
            text(L"channel", channel),
            flag(L"dev", options.dev),
            text(L"locale", options.locale),
            text(L"from", options.from),
            text(L"patchURL", options.patchURL),
            text(L"appArgs", options.appArgs),
            flag(L"prompt", options.prompt),
            flag(L"notify", options.notify),
            flag(L"showProgress", options.showProgress),
            text(L"parkPath", options.parkPath),
            flag(L"parking", options.parking),
            flag(L"emitDownloadProgress", options.emitDownloadProgress),
            text(L"installerArgs", options.installerArgs)};
}

} // namespace OV::Updater
