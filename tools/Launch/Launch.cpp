// Test launcher: starts one program with an exact command line and reports its full 32-bit exit code,
// which the Linux side of Wine would cut to 8 bits. Used by the end-to-end tests and the demo.
//
//   Launch.exe [--timeout-ms N] [--unelevated]
//   OV_LAUNCH_COMMAND_LINE  the child's whole command line, exactly as the child will see it
//
// Prints "exit-code: N" (unsigned decimal) at the end, or "timeout" after killing the child.
// With --unelevated the child runs with the limited token linked to ours (every Wine process is elevated).
#include "System/Platform.h"
#include "ToolArgs.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using OV::System::Win32::CHandleHolder;

using OV::Tools::PrintLine;

namespace
{

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
    const OV::Tools::CArguments arguments(argc, argv, {L"--unelevated"});
    const auto timeoutMs = static_cast<DWORD>(arguments.Number(L"--timeout-ms", 120000));
    const bool unelevated = arguments.Has(L"--unelevated");

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
    const DWORD flags = 0;
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

    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0)
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
