// The one thing the service does for a caller: start a maker-signed program, from a verified copy in a
// protected folder, and hand back a handle of it. Every refusal is logged with its reason.
#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <string>
#include <vector>

namespace OV::ElevationService
{

class CLauncher
{
public:
    static CLauncher& Instance();

    // Runs on a COM call, as the service. file may be quoted; folder is ignored (the program starts in
    // its protected folder). On success *processHandle is a handle valid in the caller's process.
    HRESULT Launch(DWORD callerProcessId, const wchar_t* file, const wchar_t* parameters,
                   ULONG* processHandle);

    // Removes the folders of started programs that have ended; true while one still runs.
    bool RemoveEndedLaunches();

    void Log(const std::wstring& line);

private:
    struct Started
    {
        System::Win32::CHandleHolder process;
        std::wstring folder;
    };

    CLauncher() = default;
    HRESULT Refuse(const std::wstring& reason);

    System::Win32::CCriticalSection m_Lock;
    std::vector<Started> m_Started;
};

// The value of the one /park="…" parameter and where it stands; found is false when there is none.
struct ParkParameter
{
    bool found = false;
    std::size_t valueStart = 0;
    std::size_t valueLength = 0;
};

// Finds /park="…" at the start of the parameters or after a blank. False when the parameters name more
// than one, or one without its closing quote.
bool FindParkParameter(const std::wstring& parameters, ParkParameter& park);

} // namespace OV::ElevationService
