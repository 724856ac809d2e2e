// A small test program for the user-interface helpers, which carries none of the updater's resources.
//
//   UiProbe.exe message-box <Updater.exe> <language> <text id> <yesno|error|information>
//       Shows the updater's message box of that text in that language (caption: string 101), as the
//       run does, with the texts read from the given Updater.exe. Prints "answer: N" when it is closed.
//   UiProbe.exe progress-window
//       Makes a progress window and asks for its dialog, which it cannot find here. Prints
//       "exit-code: N" with the outcome code that failed, or "created".
#include "System/ExitCodeException.h"
#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"
#include "Updater/Ui/ProgressWindow.h"
#include "Updater/Ui/StringTable.h"

#include <cstdio>
#include <cwchar>
#include <string>

using OV::Updater::Ui::CProgressWindow;
using OV::Updater::Ui::CStringTable;

namespace
{

using CLibrary = OV::System::Win32::CUniqueAny<HMODULE, &::FreeLibrary>;

int ShowMessageBox(const wchar_t* updaterPath, const wchar_t* language, const wchar_t* textId,
                   const std::wstring& kind)
{
    UINT style = 0;
    if (kind == L"yesno")
        style = MB_YESNO | MB_ICONQUESTION;
    else if (kind == L"error")
        style = MB_ICONERROR;
    else if (kind == L"information")
        style = MB_ICONINFORMATION;
    else
        return 2;

    const CLibrary updater(
        ::LoadLibraryExW(updaterPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!updater)
    {
        std::printf("cannot load the updater: error %lu\n", ::GetLastError());
        return 1;
    }
    const auto languageId = static_cast<LANGID>(std::wcstoul(language, nullptr, 10));
    const std::wstring caption = CStringTable::LoadResourceString(updater.Get(), languageId, 101);
    const std::wstring text = CStringTable::LoadResourceString(
        updater.Get(), languageId, static_cast<unsigned>(std::wcstoul(textId, nullptr, 10)));
    if (caption.empty() || text.empty())
    {
        std::printf("no such text\n");
        return 1;
    }
    const int answer = ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    std::printf("answer: %d\n", answer);
    return 0;
}

int MakeProgressWindow()
{
    try
    {
        CProgressWindow window(L"Update", L"Checking for updates...", false);
        window.MakeDialog();
        std::printf("created\n");
    }
    catch (const OV::System::CExitCodeException& failure)
    {
        std::printf("exit-code: %u\n", static_cast<unsigned>(failure.GetExitCode()));
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"message-box" && argc == 6)
        return ShowMessageBox(argv[2], argv[3], argv[4], argv[5]);
    if (command == L"progress-window" && argc == 2)
        return MakeProgressWindow();
    std::fputs("usage: UiProbe message-box <Updater.exe> <language> <text id> <yesno|error|information>\n"
               "       UiProbe progress-window\n",
               stderr);
    return 2;
}
