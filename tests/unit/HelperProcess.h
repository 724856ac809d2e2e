#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::Tests
{

// tools/ProcessHelper/ProcessHelper.exe of the same build, started as a second real process (its commands
// are listed at the top of its source). Its output goes to NUL; tests learn readiness through named events.
class CHelperProcess
{
public:
    // Throws std::runtime_error when the program cannot be started.
    explicit CHelperProcess(const std::wstring& arguments);
    // Kills the helper if it is still running, so that a failed test leaves no process behind.
    ~CHelperProcess();

    // True when the helper ended within timeoutMs.
    bool WaitForExit(DWORD timeoutMs);
    // STILL_ACTIVE while it runs.
    DWORD GetExitCode() const;

    // build/<arch>/tools/ProcessHelper/ProcessHelper.exe, found from the test program's own path.
    static std::wstring GetProgramPath();

private:
    System::Win32::CHandleHolder m_Process;
};

// A kernel-object name unique to this test process and the given purpose.
std::wstring UniqueObjectName(const std::wstring& purpose);

} // namespace OV::Tests
