#pragma once

#include "System/Win32/Synchronization.h"

#include <string>
#include <vector>

namespace OV::CommonAppLogic
{

// The one lock under which every GetPrivateProfileStringW call of the process is made. Created on first
// use and never destroyed, so it outlives every user.
OV::System::Win32::CCriticalSection& GetProfileLock();

// The key names of a section, read into a buffer of bufferChars characters; the list ends at the first
// empty name. Empty when the file or the section is missing.
std::vector<std::wstring> GetProfileKeys(const std::wstring& section, unsigned int bufferChars,
                                         const std::wstring& path);

// The value of a key, at most bufferChars - 1 characters; defaultValue when the file, section or key is
// missing.
std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& defaultValue, unsigned int bufferChars,
                              const std::wstring& path);

} // namespace OV::CommonAppLogic
