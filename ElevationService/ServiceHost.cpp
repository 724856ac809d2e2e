#include "ServiceHost.h"

#include "Launcher.h"
#include "Registration.h"
#include "ServiceObject.h"

#include "System/Platform.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/HandleHolder.h"

#include <ElevationService_h.h>
#include <sddl.h>

namespace OV::ElevationService
{
namespace
{

// How long the service stays without a caller, an object or a program it started still running.
constexpr ULONGLONG kQuietMs = 10000;

SERVICE_STATUS_HANDLE g_Status = nullptr;
HANDLE g_StopEvent = nullptr;

void ReportState(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    ::SetServiceStatus(g_Status, &status);
}

DWORD WINAPI HandleControl(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN)
    {
        ReportState(SERVICE_STOP_PENDING);
        ::SetEvent(g_StopEvent);
    }
    return NO_ERROR;
}

class CClassFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
        {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return CServiceObject::Create(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Calls are accepted from the same principals that may launch the service; callers must allow
// impersonation, which every check of a call relies on.
bool SecureCalls()
{
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAG:BAD:(A;;0xb;;;IU)(A;;0xb;;;SY)(A;;0xb;;;BA)", SDDL_REVISION_1, &made, nullptr))
        return false;
    const System::Win32::CLocalMemory descriptor(made);
    const HRESULT secured = ::CoInitializeSecurity(made, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                                   RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                                                   EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL, nullptr);
    return SUCCEEDED(secured) || secured == RPC_E_TOO_LATE;
}

void Serve()
{
    CLauncher& launcher = CLauncher::Instance();
    launcher.Log(L"service started");
    static CClassFactory factory;
    DWORD cookie = 0;
    if (!SecureCalls() || FAILED(::CoRegisterClassObject(CLSID_OVElevationService, &factory,
                                                         CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
    {
        launcher.Log(L"service could not offer its class");
        return;
    }
    ULONGLONG activeAt = ::GetTickCount64();
    while (::WaitForSingleObject(g_StopEvent, 200) == WAIT_TIMEOUT)
    {
        // Folders of programs that have ended are removed as soon as they can be.
        const bool running = launcher.RemoveEndedLaunches();
        if (running || CServiceObject::ObjectCount() > 0)
            activeAt = ::GetTickCount64();
        else if (::GetTickCount64() - activeAt > kQuietMs)
            break;
    }
    ::CoRevokeClassObject(cookie);
    launcher.Log(L"service stopped");
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_Status = ::RegisterServiceCtrlHandlerExW(kServiceName, HandleControl, nullptr);
    if (g_Status == nullptr)
        return;
    ReportState(SERVICE_START_PENDING);
    System::Win32::CHandleHolder stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_StopEvent = stop.Get();
    if (stop)
    {
        const System::Win32::CComInitScope com(COINIT_MULTITHREADED);
        if (SUCCEEDED(com.GetResult()))
        {
            ReportState(SERVICE_RUNNING);
            Serve();
        }
    }
    ReportState(SERVICE_STOPPED);
}

} // namespace

int RunService()
{
    wchar_t name[64] = {};
    ::lstrcpynW(name, kServiceName, 64);
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

} // namespace OV::ElevationService
