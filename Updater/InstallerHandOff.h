#pragma once

#include "Updater/Trust/HeldFile.h"

#include <cstdint>
#include <string>

namespace OV::Updater
{

struct HandOffRequest
{
    std::wstring product;
    std::wstring installerPath;
    // The checked installer, held open (others may only read it) until it has started.
    Trust::CHeldFile heldInstaller;
    std::wstring locale;
    std::wstring installerArgs;
    bool parking = true;
    std::wstring parkPath;
    std::wstring appArgs;
    std::wstring dp;
};

// Copies and starts the parking program, starts the installer (through the elevation service when this
// process is not elevated, else directly), mirrors its registry progress and returns its exit code.
// An elevated process starts both programs from a protected folder (copies made there, the installer
// verified there), never from the download folder that any program of the user can write.
// Failures are thrown as CExitCodeException 0x500, 0x501, 0x700, 0x701 or 0x702.
std::uint32_t RunInstaller(HandOffRequest& request);

// The pieces of the hand-off, exposed for their exact texts.
std::wstring InstallerFolder(const std::wstring& installerPath);
std::wstring InstallerParameters(const std::wstring& parkingCopy, const std::wstring& installerArgs);
std::wstring ParkingParameters(const std::wstring& clientExecutable, const std::wstring& locale,
                               const std::wstring& appArgs, const std::wstring& dp);
extern const wchar_t kParkingStopParameters[];
// The window position for an "Install" value, or -1 when nothing is to be posted.
int InstallProgressPosition(const std::wstring& installText);

} // namespace OV::Updater
