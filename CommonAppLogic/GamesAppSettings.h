#pragma once

#include "System/Object.h"
#include "System/Win32/Mutex.h"

#include <string>

namespace OV::CommonAppLogic
{

// Reads the games client's shared settings file "Settings\GamesApp.ini" in the user's roaming
// application data, under the named mutex with which every process of the client guards that file.
class CGamesAppSettings : public OV::System::CNonCopyable
{
public:
    // The mutex that every reader and writer of the file holds while using it.
    static constexpr wchar_t kMutexName[] = L"OV{F06C275F-21C1-437D-B778-CF777197689F}";

    // Creates or opens the mutex; throws CException when it cannot.
    CGamesAppSettings();

    // The value, or defaultValue when the file, section or key is missing. Waits as long as another
    // process holds the mutex; throws CException when the mutex was abandoned.
    std::wstring GetValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue);

    const std::wstring& GetPath() const { return m_Path; }

private:
    OV::System::Win32::CMutex m_Mutex;
    std::wstring m_Path;
};

} // namespace OV::CommonAppLogic
