#include "CallerCheck.h"

#include <objbase.h>
#include <rpc.h>
#include <rpcdcep.h>

#include <vector>

namespace OV::ElevationService
{
namespace
{

using System::Win32::CHandleHolder;

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type)
{
    DWORD size = 0;
    ::GetTokenInformation(token, type, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !::GetTokenInformation(token, type, data.data(), size, &size))
        data.clear();
    return data;
}

// The integrity level's relative id; 0 (untrusted) when the token does not say.
DWORD IntegrityLevel(HANDLE token)
{
    const std::vector<BYTE> data = TokenInformation(token, TokenIntegrityLevel);
    if (data.empty())
        return 0;
    PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(data.data())->Label.Sid;
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    return count > 0 ? *::GetSidSubAuthority(sid, count - 1) : 0;
}

bool IsUser(HANDLE token, WELL_KNOWN_SID_TYPE type)
{
    const std::vector<BYTE> user = TokenInformation(token, TokenUser);
    return !user.empty() &&
           ::IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, type);
}

bool IsMember(HANDLE token, WELL_KNOWN_SID_TYPE type)
{
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(sid);
    BOOL member = FALSE;
    return ::CreateWellKnownSid(type, nullptr, sid, &size) && ::CheckTokenMembership(token, sid, &member) &&
           member;
}

// Why a token may not ask for anything; empty text when it may.
std::wstring RefusedToken(HANDLE token, const wchar_t* whose)
{
    if (IsUser(token, WinAnonymousSid))
        return std::wstring(L"anonymous ") + whose;
    if (IsMember(token, WinNetworkSid))
        return std::wstring(L"network ") + whose;
    if (IntegrityLevel(token) < SECURITY_MANDATORY_MEDIUM_RID)
        return std::wstring(whose) + L" below medium integrity";
    return L"";
}

} // namespace

CImpersonation::CImpersonation() : m_Result(::CoImpersonateClient()), m_Active(SUCCEEDED(m_Result))
{
    if (!m_Active && m_Result == RPC_E_CALL_COMPLETE)
    {
        const RPC_STATUS status = ::RpcImpersonateClient(nullptr);
        m_Active = m_ThroughRpc = status == RPC_S_OK;
        if (!m_Active)
            m_Result = HRESULT_FROM_WIN32(status);
    }
}

CImpersonation::~CImpersonation()
{
    End();
}

void CImpersonation::End()
{
    if (m_Active)
        m_ThroughRpc ? static_cast<void>(::RpcRevertToSelf()) : static_cast<void>(::CoRevertToSelf());
    m_Active = false;
}

std::wstring CheckCaller(DWORD namedProcessId, Caller& caller)
{
    CHandleHolder token;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()))
        return L"the caller's token cannot be read";
    std::wstring reason = RefusedToken(token.Get(), L"caller");
    if (!reason.empty())
        return reason;

    // The process id comes from the transport, not from the caller: only a local process has one.
    unsigned long callingProcessId = 0;
    if (::I_RpcBindingInqLocalClientPID(nullptr, &callingProcessId) != RPC_S_OK || callingProcessId == 0)
        return L"not a local caller";
    if (callingProcessId != namedProcessId)
        return L"the named process " + std::to_wstring(namedProcessId) + L" is not the caller (" +
               std::to_wstring(callingProcessId) + L")";

    // Opened as the caller: a process the caller could not open itself is out of reach here too.
    caller.process.Reset(
        ::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, namedProcessId));
    if (!caller.process)
        return L"the caller's process cannot be opened";
    CHandleHolder processToken;
    if (!::OpenProcessToken(caller.process.Get(), TOKEN_QUERY, processToken.Put()))
        return L"the caller's process token cannot be read";
    return RefusedToken(processToken.Get(), L"calling process");
}

} // namespace OV::ElevationService
