// Who is calling: the service takes nothing on trust from its caller, not even the process id it names.
#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::ElevationService
{

// Impersonates the caller of the current call for its lifetime. COM's own call context first
// (CoImpersonateClient); where COM has none on the calling thread, the RPC call's (RpcImpersonateClient).
class CImpersonation
{
public:
    CImpersonation();
    ~CImpersonation();
    CImpersonation(const CImpersonation&) = delete;
    CImpersonation& operator=(const CImpersonation&) = delete;

    bool IsActive() const { return m_Active; }
    HRESULT Result() const { return m_Result; }
    void End();

private:
    HRESULT m_Result;
    bool m_Active = false;
    bool m_ThroughRpc = false;
};

struct Caller
{
    // The caller's own process, opened as the caller: the handle of the started program goes there.
    System::Win32::CHandleHolder process;
};

// Checks the caller while the calling thread impersonates it: refuses anonymous, network and
// low-integrity callers (judged by the impersonation token and by the calling process's own token), a
// caller that is not a local process, and a process id other than the caller's own. Empty text when the
// caller passes, else the reason.
std::wstring CheckCaller(DWORD namedProcessId, Caller& caller);

} // namespace OV::ElevationService
