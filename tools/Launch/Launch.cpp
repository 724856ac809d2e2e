// Test launcher: starts one program with an exact command line and reports its full 32-bit exit code,
// which the Linux side of Wine would cut to 8 bits. Used by the end-to-end tests and the demo.
//
//   Launch.exe [--timeout-ms N] [--debug-output] [--unelevated]
//   OV_LAUNCH_COMMAND_LINE  the child's whole command line, exactly as the child will see it
//
// Prints "exit-code: N" (unsigned decimal) at the end, or "timeout" after killing the child.
// With --debug-output it attaches as a debugger and prints each OutputDebugString line as "debug: text".
// With --unelevated the child runs with the limited token linked to ours (every Wine process is elevated).
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using OV::System::Win32::CHandleHolder;

namespace
{

void PrintLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::wstring ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info)
{
    const size_t units = info.nDebugStringLength;
    if (units == 0)
        return std::wstring();
    if (info.fUnicode)
    {
        std::vector<wchar_t> buffer(units, L'\0');
        SIZE_T read = 0;
        ::ReadProcessMemory(process, info.lpDebugStringData, buffer.data(), units * sizeof(wchar_t), &read);
        return std::wstring(buffer.data(), wcsnlen(buffer.data(), read / sizeof(wchar_t)));
    }
    std::vector<char> buffer(units, '\0');
    SIZE_T read = 0;
    ::ReadProcessMemory(process, info.lpDebugStringData, buffer.data(), units, &read);
    const std::string narrow(buffer.data(), strnlen(buffer.data(), read));
    return OV::MBCSToUtf16_CP(CP_ACP, narrow);
}

void PrintDebugLines(std::wstring text)
{
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    PrintLine("debug: " + OV::Utf16ToUtf8(text));
}

// Runs the debug loop until the child exits or the deadline passes. Returns false on time-out.
bool DebugUntilExit(HANDLE process, ULONGLONG deadline)
{
    bool firstBreakpoint = true;
    for (;;)
    {
        DEBUG_EVENT event = {};
        if (!::WaitForDebugEvent(&event, 100))
        {
            if (::GetTickCount64() > deadline)
                return false;
            continue;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode)
        {
        case CREATE_PROCESS_DEBUG_EVENT:
            CHandleHolder(event.u.CreateProcessInfo.hFile).Reset();
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CHandleHolder(event.u.LoadDll.hFile).Reset();
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            PrintDebugLines(ReadDebugString(process, event.u.DebugString));
            break;
        case EXCEPTION_DEBUG_EVENT:
            // Everything but the loader's first breakpoint goes back to the child's own handlers.
            if (firstBreakpoint && event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT)
                firstBreakpoint = false;
            else
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return true;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
}

// The limited token that Windows links to an elevated one.
CHandleHolder LimitedToken()
{
    CHandleHolder token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return CHandleHolder();
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size))
        return CHandleHolder();
    return CHandleHolder(linked.LinkedToken);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    DWORD timeoutMs = 120000;
    bool debugOutput = false;
    bool unelevated = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring argument = argv[i];
        if (argument == L"--timeout-ms" && i + 1 < argc)
            timeoutMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        else if (argument == L"--debug-output")
            debugOutput = true;
        else if (argument == L"--unelevated")
            unelevated = true;
    }

    wchar_t variable[32768] = {};
    if (::GetEnvironmentVariableW(L"OV_LAUNCH_COMMAND_LINE", variable, 32768) == 0)
    {
        PrintLine("error: OV_LAUNCH_COMMAND_LINE is not set");
        return 2;
    }
    std::wstring commandLine = variable;
    ::SetEnvironmentVariableW(L"OV_LAUNCH_COMMAND_LINE", nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const DWORD flags = debugOutput ? DEBUG_ONLY_THIS_PROCESS : 0;
    BOOL started = FALSE;
    if (unelevated)
    {
        CHandleHolder limited = LimitedToken();
        if (!limited)
        {
            PrintLine("error: no limited token: " + std::to_string(::GetLastError()));
            return 3;
        }
        started = ::CreateProcessAsUserW(limited.Get(), nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                         flags, nullptr, nullptr, &startup, &info);
    }
    else
    {
        started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                   nullptr, &startup, &info);
    }
    if (!started)
    {
        PrintLine("error: starting the program failed with " + std::to_string(::GetLastError()));
        return 3;
    }
    CHandleHolder process(info.hProcess);
    CHandleHolder thread(info.hThread);

    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    bool exited = debugOutput ? DebugUntilExit(process.Get(), deadline)
                              : ::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0;
    if (exited)
        exited = ::WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0;
    if (!exited)
    {
        ::TerminateProcess(process.Get(), 0xDEAD);
        PrintLine("timeout");
        return 124;
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    PrintLine("exit-code: " + std::to_string(exitCode));
    return 0;
}
