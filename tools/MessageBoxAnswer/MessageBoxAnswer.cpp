// Answers a message box that another program of the same Wine prefix shows, the way a user would: finds
// the box among the top-level windows (dialog class "#32770", matched by its caption), waits a bounded
// time for it to appear, reports what it shows and clicks one of its buttons. The end-to-end tests use it
// to answer the updater's prompt and notices and to learn which box was shown.
//
//   MessageBoxAnswer.exe --caption <text> [--answer yes|no|ok|none] [--timeout-ms N]
//
// Prints one line of JSON (UTF-8): {"caption": ..., "text": ..., "buttons": [...], "answer": ...}.
// --answer none only reports. Exit codes: 0 found (and answered), 1 no such box within the time-out,
// 2 bad arguments, 3 the box has no such button or the click was not delivered.
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "ToolArgs.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace
{

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

struct Button
{
    int Id;
    const char* Name;
};
const Button kButtons[] = {{IDOK, "ok"},         {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
                           {IDIGNORE, "ignore"}, {IDYES, "yes"},       {IDNO, "no"}};

std::wstring WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

struct Search
{
    const std::wstring* Caption;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    // A box is visible only once it is complete, texts and buttons included.
    if (ClassName(window) == kDialogClass && ::IsWindowVisible(window) &&
        WindowText(window) == *search->Caption)
    {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForBox(const std::wstring& caption, DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;)
    {
        Search search{&caption, nullptr};
        ::EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr)
            return search.Found;
        if (::GetTickCount64() - start >= timeoutMs)
            return nullptr;
        ::Sleep(kPollMs);
    }
}

BOOL CALLBACK CollectMessageText(HWND child, LPARAM parameter)
{
    auto* text = reinterpret_cast<std::wstring*>(parameter);
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    // The box's text is its one static control that is not an icon.
    if (ClassName(child) == L"Static" && (style & SS_TYPEMASK) != SS_ICON)
    {
        const std::wstring childText = WindowText(child);
        if (!childText.empty())
        {
            *text = childText;
            return FALSE;
        }
    }
    return TRUE;
}

std::string JsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (const char c : OV::Utf16ToUtf8(text))
    {
        char escaped[8] = {c, 0};
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        out += escaped;
    }
    return out + "\"";
}

int Usage()
{
    std::fputs("usage: MessageBoxAnswer --caption <text> [--answer yes|no|ok|none] [--timeout-ms N]\n",
               stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const OV::Tools::CArguments arguments(argc, argv);
    const std::wstring caption = arguments.Text(L"--caption");
    const std::string answer = OV::Utf16ToUtf8(arguments.Text(L"--answer", L"none"));
    const auto timeoutMs = static_cast<DWORD>(arguments.Number(L"--timeout-ms", kDefaultTimeoutMs));
    if (!arguments.IsValid() || !arguments.Has(L"--caption") ||
        (answer != "none" && answer != "yes" && answer != "no" && answer != "ok"))
        return Usage();

    const HWND box = WaitForBox(caption, timeoutMs);
    if (box == nullptr)
    {
        std::fputs("no message box with that caption\n", stderr);
        return 1;
    }

    std::wstring text;
    ::EnumChildWindows(box, &CollectMessageText, reinterpret_cast<LPARAM>(&text));
    std::string buttons;
    int answerId = 0;
    for (const Button& button : kButtons)
    {
        if (::GetDlgItem(box, button.Id) == nullptr)
            continue;
        buttons += (buttons.empty() ? "\"" : ", \"") + std::string(button.Name) + "\"";
        if (answer == button.Name)
            answerId = button.Id;
    }
    std::printf("{\"caption\": %s, \"text\": %s, \"buttons\": [%s], \"answer\": \"%s\"}\n",
                JsonString(WindowText(box)).c_str(), JsonString(text).c_str(), buttons.c_str(),
                answer.c_str());
    std::fflush(stdout);

    if (answer == "none")
        return 0;
    if (answerId == 0)
    {
        std::fputs("the box has no such button\n", stderr);
        return 3;
    }
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(::GetDlgItem(box, answerId), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result))
    {
        std::fputs("the click was not delivered\n", stderr);
        return 3;
    }
    return 0;
}
