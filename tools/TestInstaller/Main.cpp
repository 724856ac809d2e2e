// A stand-in installer for the tests (signed by the tests with the test PKI), and, when copied under the
// client's name "PlayDock-ov.exe", a stand-in client.
//
// As installer it also appends "<pid>\t<elevated>\t<image path>\t<OvPlanted.dll loaded>" to processes.txt.
// Every start appends one line "<role>\t<pid>\t<command line>" (UTF-8) to
// %ProgramData%\OrvaneTest\invocations.txt, so tests can assert who was started and how.
// As installer it reads %ProgramData%\OrvaneTest\installer.ini, section [installer]:
//   Steps=4       progress steps written to HKLM\Software\Orvane\InstallerStatus "Install"
//   StepMs=150    pause after each step
//   ExitCode=0    its exit code
//   SignalPark=1  set Global\OVPARKEXEC at the end, so the parking program restarts the client
// After each step's pause it appends "<percent written>\t<position>" to
// %ProgramData%\OrvaneTest\progress.txt: the position of the updater's progress bar by then (-1 when no
// updater window is there), so tests can see the installer's progress mirrored.
#include "System/KnownFolders.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

using OV::System::Win32::CHandleHolder;

namespace
{

std::wstring TestFolder()
{
    const std::wstring folder = OV::System::GetProgramDataFolder() + L"\\OrvaneTest";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void AppendLine(const wchar_t* name, const std::wstring& line)
{
    if (FILE* file = ::_wfopen((TestFolder() + L"\\" + name).c_str(), L"ab"))
    {
        const std::string text = OV::Utf16ToUtf8(line + L"\n");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

void Record(const std::wstring& role)
{
    // Several processes may record at once: append under a named mutex.
    CHandleHolder mutex(::CreateMutexW(nullptr, FALSE, L"OrvaneTestInvocations"));
    ::WaitForSingleObject(mutex.Get(), 5000);
    AppendLine(L"invocations.txt",
               role + L"\t" + std::to_wstring(::GetCurrentProcessId()) + L"\t" + ::GetCommandLineW());
    ::ReleaseMutex(mutex.Get());
}

void WriteProgress(const std::wstring& text)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\InstallerStatus", 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key, L"Install", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

bool IsUpdaterWindow(HWND window)
{
    wchar_t className[32] = {};
    if (::GetClassNameW(window, className, 32) == 0 || std::wstring(className) != L"#32770")
        return false;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    CHandleHolder process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!process || !::QueryFullProcessImageNameW(process.Get(), 0, image, &size))
        return false;
    std::wstring name = image;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(::towlower(c));
    return name == L"updater.exe";
}

BOOL CALLBACK FindProgressBar(HWND window, LPARAM found)
{
    if (!IsUpdaterWindow(window))
        return TRUE;
    HWND bar = ::FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    if (bar == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = bar;
    return FALSE;
}

// The position of the updater's progress bar (its dialog exists, shown or not), -1 when there is none.
long UpdaterProgressPosition()
{
    HWND bar = nullptr;
    ::EnumWindows(FindProgressBar, reinterpret_cast<LPARAM>(&bar));
    DWORD_PTR position = 0;
    if (bar == nullptr || !::SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
        return -1;
    return static_cast<long>(position);
}

// "<pid>\t<elevated 0|1>\t<own image path>\t<OvPlanted.dll loaded 0|1>" to processes.txt: what the
// installer ran as and from, and whether a DLL planted in its search path got loaded.
void RecordProcess()
{
    const bool planted = ::LoadLibraryW(L"OvPlanted.dll") != nullptr;
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    CHandleHolder token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size);
    AppendLine(L"processes.txt", std::to_wstring(::GetCurrentProcessId()) + L"\t" +
                                     std::to_wstring(elevation.TokenIsElevated != 0) + L"\t" + module +
                                     L"\t" + std::to_wstring(planted));
}

int RunAsInstaller()
{
    RecordProcess();
    const std::wstring ini = TestFolder() + L"\\installer.ini";
    const int steps = static_cast<int>(::GetPrivateProfileIntW(L"installer", L"Steps", 4, ini.c_str()));
    const DWORD stepMs = ::GetPrivateProfileIntW(L"installer", L"StepMs", 150, ini.c_str());
    wchar_t exitCodeText[32] = {};
    ::GetPrivateProfileStringW(L"installer", L"ExitCode", L"0", exitCodeText, 32, ini.c_str());
    const DWORD exitCode = static_cast<DWORD>(std::wcstoul(exitCodeText, nullptr, 0));
    const bool signalPark = ::GetPrivateProfileIntW(L"installer", L"SignalPark", 1, ini.c_str()) != 0;

    for (int step = 0; step <= steps; ++step)
    {
        wchar_t percent[32] = {};
        std::swprintf(percent, 32, L"%.1f", steps > 0 ? 100.0 * step / steps : 100.0);
        WriteProgress(percent);
        ::Sleep(stepMs);
        AppendLine(L"progress.txt",
                   std::wstring(percent) + L"\t" + std::to_wstring(UpdaterProgressPosition()));
    }
    if (signalPark)
    {
        CHandleHolder execute(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\OVPARKEXEC"));
        if (execute)
            ::SetEvent(execute.Get());
    }
    return static_cast<int>(exitCode);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring name = module;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(::towlower(c));
    if (name == L"playdock-ov.exe")
    {
        Record(L"client");
        return 0;
    }
    Record(L"installer");
    return RunAsInstaller();
}
