#include "Registration.h"

#include "System/Exception.h"
#include "System/Platform.h"
#include "System/Win32/ComPtr.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/RegistryKey.h"

#include <ElevationService_h.h>
#include <sddl.h>

#include <string>

namespace OV::ElevationService
{

const wchar_t kServiceName[] = L"OrvaneElevationService";

namespace
{

using System::Win32::CLocalMemory;
using System::Win32::CRegistryKey;

const wchar_t kClassId[] = L"{3540DE9F-C4F7-4A44-B371-369C08D0A5B0}";
const wchar_t kDisplayName[] = L"Orvane Elevation Service";
// Who may start the service through COM and call it: interactive users, SYSTEM and Administrators,
// locally only (COM_RIGHTS_EXECUTE | EXECUTE_LOCAL | ACTIVATE_LOCAL).
const wchar_t kPermissionsSddl[] = L"O:BAG:BAD:(A;;0xb;;;IU)(A;;0xb;;;SY)(A;;0xb;;;BA)";

using CServiceHandle = System::Win32::CUniqueAny<SC_HANDLE, &::CloseServiceHandle>;

std::wstring ModulePath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Opens or creates the key under HKEY_LOCAL_MACHINE and writes into it; false on any failure.
template <typename Write>
bool WriteMachineKey(const std::wstring& subKey, Write write)
{
    try
    {
        CRegistryKey key(L"HKEY_LOCAL_MACHINE\\" + subKey, false, 0);
        write(key);
        return true;
    }
    catch (const System::CException&)
    {
        return false;
    }
}

// An empty name is the key's default value.
bool SetText(const std::wstring& subKey, const wchar_t* name, const std::wstring& text)
{
    return WriteMachineKey(subKey, [&](CRegistryKey& key) { key.SetString(name, text); });
}

bool SetBinary(const std::wstring& subKey, const wchar_t* name, const void* data, DWORD size)
{
    return WriteMachineKey(subKey, [&](CRegistryKey& key) { key.SetBinary(name, data, size); });
}

bool RegisterClassAndAppId()
{
    const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClassId;
    const std::wstring appIdKey = std::wstring(L"Software\\Classes\\AppID\\") + kClassId;
    PSECURITY_DESCRIPTOR made = nullptr;
    ULONG size = 0;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPermissionsSddl, SDDL_REVISION_1, &made,
                                                                &size))
        return false;
    const CLocalMemory permissions(made);
    // LocalServer32 tells callers that the class is installed and where; the program serves only when the
    // service control manager starts it, so a start through this entry never serves anyone.
    return SetText(classKey, L"", kDisplayName) && SetText(classKey, L"AppID", kClassId) &&
           SetText(classKey + L"\\LocalServer32", L"", L"\"" + ModulePath() + L"\"") &&
           SetText(appIdKey, L"", kDisplayName) && SetText(appIdKey, L"LocalService", kServiceName) &&
           SetBinary(appIdKey, L"LaunchPermission", made, size) &&
           SetBinary(appIdKey, L"AccessPermission", made, size);
}

bool InstallService()
{
    const CServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    const std::wstring command = L"\"" + ModulePath() + L"\"";
    CServiceHandle service;
    // A service removed a moment ago lingers until its last handle is closed.
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        service.Reset(::CreateServiceW(manager.Get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service || ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            break;
        ::Sleep(100);
    }
    if (service)
        return true;
    if (::GetLastError() != ERROR_SERVICE_EXISTS)
        return false;
    // Installed before, perhaps from another folder: point it at this program.
    service.Reset(::OpenServiceW(manager.Get(), kServiceName, SERVICE_CHANGE_CONFIG));
    return service && ::ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                             nullptr, nullptr, kDisplayName);
}

void RemoveService()
{
    const CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return;
    const CServiceHandle service(::OpenServiceW(manager.Get(), kServiceName, SERVICE_STOP | DELETE));
    if (!service)
        return;
    SERVICE_STATUS status{};
    ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    ::DeleteService(service.Get());
}

} // namespace

int Install()
{
    System::Win32::CComPtr<ITypeLib> library;
    if (FAILED(::LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, library.Put())))
        return 2;
    if (!InstallService())
        return 3;
    return RegisterClassAndAppId() ? 0 : 4;
}

int Uninstall()
{
    RemoveService();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\CLSID\\") + kClassId).c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\AppID\\") + kClassId).c_str());
    ::UnRegisterTypeLib(LIBID_OVElevationServiceLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    ::UnRegisterTypeLib(LIBID_OVElevationServiceLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
    return 0;
}

} // namespace OV::ElevationService
