#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::System::Win32
{

// Whether the process's token is elevated (TokenElevation not 0). A null process means the current
// process. False when the token cannot be read.
bool IsProcessElevated(HANDLE process = nullptr);

// The token linked to the current process's token: for an elevated administrator the limited
// (unelevated) token of the same logon. Throws CException when there is none.
CHandleHolder GetLinkedToken();

struct StartedProcess
{
    CHandleHolder Process;
    CHandleHolder Thread;
    DWORD ProcessId = 0;
};

// Starts a command line with the current process's limited linked token, so that the new process runs
// unelevated even when this one is elevated. creationFlags go to CreateProcessAsUserW (CREATE_SUSPENDED
// lets the caller look at the process before it runs). Throws CException on failure.
StartedProcess StartProcessUnelevated(const std::wstring& commandLine, DWORD creationFlags = 0);

} // namespace OV::System::Win32
