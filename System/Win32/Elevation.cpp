#include "System/Win32/Elevation.h"

#include "System/ErrorBoundary.h"

#include <vector>

namespace OV::System::Win32
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Win32\\Elevation.cpp";
} // namespace

bool IsProcessElevated(HANDLE process)
{
    CHandleHolder token;
    if (!::OpenProcessToken(process != nullptr ? process : ::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size))
        return false;
    return elevation.TokenIsElevated != 0;
}

CHandleHolder GetLinkedToken()
{
    CHandleHolder token;
    OV_THROW_LAST_ERROR_IF(!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()),
                           "OpenProcessToken failed");
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    OV_THROW_LAST_ERROR_IF(
        !::GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size),
        "GetTokenInformation(TokenLinkedToken) failed");
    return CHandleHolder(linked.LinkedToken);
}

StartedProcess StartProcessUnelevated(const std::wstring& commandLine, DWORD creationFlags)
{
    const CHandleHolder linked = GetLinkedToken();
    // CreateProcessAsUserW needs a primary token; the linked one may come as an impersonation token.
    CHandleHolder primary;
    OV_THROW_LAST_ERROR_IF(!::DuplicateTokenEx(linked.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                               TokenPrimary, primary.Put()),
                           "DuplicateTokenEx failed");

    // CreateProcessAsUserW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION information = {};
    OV_THROW_LAST_ERROR_IF(!::CreateProcessAsUserW(primary.Get(), nullptr, mutableCommandLine.data(), nullptr,
                                                   nullptr, FALSE, creationFlags, nullptr, nullptr, &startup,
                                                   &information),
                           L"CreateProcessAsUserW failed for " + commandLine);

    StartedProcess started;
    started.Process.Reset(information.hProcess);
    started.Thread.Reset(information.hThread);
    started.ProcessId = information.dwProcessId;
    return started;
}

} // namespace OV::System::Win32
