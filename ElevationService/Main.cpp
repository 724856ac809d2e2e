// Orvane elevation service: a Windows service (LocalSystem) that COM starts for the class's callers. It
// starts a maker-signed program for a limited caller, from a copy it verified in a folder that only
// SYSTEM and Administrators can change, and hands the caller a handle of the started process.
//   ElevationService.exe /Install     installs the service, the COM class, its AppID and type library
//   ElevationService.exe /Uninstall   removes all of it (/RegServer and /UnregServer are the same)
//   ElevationService.exe              run by the service control manager only
#include "Registration.h"
#include "ServiceHost.h"

#include "System/Platform.h"

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    std::wstring arguments = commandLine != nullptr ? commandLine : L"";
    for (wchar_t& c : arguments)
        c = static_cast<wchar_t>(::towlower(c));
    const auto has = [&arguments](const wchar_t* name)
    {
        return arguments.find(std::wstring(L"/") + name) != std::wstring::npos ||
               arguments.find(std::wstring(L"-") + name) != std::wstring::npos;
    };
    if (has(L"install") && !has(L"uninstall"))
        return OV::ElevationService::Install();
    if (has(L"regserver") && !has(L"unregserver"))
        return OV::ElevationService::Install();
    if (has(L"uninstall") || has(L"unregserver"))
        return OV::ElevationService::Uninstall();
    return OV::ElevationService::RunService();
}
