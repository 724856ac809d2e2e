// Installs and removes the elevation service: a Windows service (LocalSystem, started on demand) that
// COM starts for the class's first caller, with the class, its AppID and its type library.
#pragma once

namespace OV::ElevationService
{

// The service's name in the service control manager, named by the class's AppID as "LocalService".
extern const wchar_t kServiceName[];

// 0 when everything is in place; otherwise the step that failed (2 type library, 3 service, 4 registry).
int Install();
// Removes the service, the class, the AppID and the type library; what is missing already is fine.
int Uninstall();

} // namespace OV::ElevationService
