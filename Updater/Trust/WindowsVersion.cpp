#include "Updater/Trust/WindowsVersion.h"

#include "System/Platform.h"

namespace OV::Updater::Trust
{

bool IsWindowsVersionOrGreater(unsigned short major, unsigned short minor, unsigned short servicePackMajor)
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.wServicePackMajor = servicePackMajor;
    const DWORDLONG conditions = ::VerSetConditionMask(
        ::VerSetConditionMask(::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION,
                              VER_GREATER_EQUAL),
        VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                conditions) != FALSE;
}

} // namespace OV::Updater::Trust
