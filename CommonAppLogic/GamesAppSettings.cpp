#include "CommonAppLogic/GamesAppSettings.h"

#include "CommonAppLogic/ProfileReaders.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"

namespace OV::CommonAppLogic
{

namespace
{
constexpr unsigned int kValueChars = 1299;
} // namespace

CGamesAppSettings::CGamesAppSettings()
    : m_Mutex(kMutexName), m_Path(OV::System::IO::CFilePath::Combine(
                               OV::System::GetMakerFolderUnder(OV::System::GetRoamingAppDataFolder(), 1),
                               L"Settings\\GamesApp.ini"))
{
}

std::wstring CGamesAppSettings::GetValue(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& defaultValue)
{
    const OV::System::Win32::CMutexLock lock(m_Mutex, INFINITE);
    if (!OV::System::FileExists(m_Path))
        return defaultValue;
    return GetProfileString(section, key, defaultValue, kValueChars, m_Path);
}

} // namespace OV::CommonAppLogic
