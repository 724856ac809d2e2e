#include "CommonAppLogic/ProfileReaders.h"

#include "System/Platform.h"

namespace OV::CommonAppLogic
{

OV::System::Win32::CCriticalSection& GetProfileLock()
{
    // A function-local static is initialised once even under concurrent first calls; it is never
    // deleted, so threads still reading at process exit find it intact.
    static OV::System::Win32::CCriticalSection* const lock = new OV::System::Win32::CCriticalSection();
    return *lock;
}

std::vector<std::wstring> GetProfileKeys(const std::wstring& section, unsigned int bufferChars,
                                         const std::wstring& path)
{
    // Two spare characters: the list ends in two NULs even when the system fills the whole buffer.
    std::wstring buffer(static_cast<size_t>(bufferChars) + 2, L'\0');
    {
        OV::System::Win32::CCriticalSectionLock lock(GetProfileLock());
        ::GetPrivateProfileStringW(section.c_str(), nullptr, nullptr, buffer.data(), bufferChars,
                                   path.c_str());
    }
    std::vector<std::wstring> keys;
    for (const wchar_t* name = buffer.c_str(); *name != L'\0'; name += keys.back().size() + 1)
        keys.emplace_back(name);
    return keys;
}

std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& defaultValue, unsigned int bufferChars,
                              const std::wstring& path)
{
    std::wstring buffer(static_cast<size_t>(bufferChars) + 1, L'\0');
    {
        OV::System::Win32::CCriticalSectionLock lock(GetProfileLock());
        ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                   bufferChars, path.c_str());
    }
    buffer.resize(buffer.find(L'\0'));
    buffer.shrink_to_fit();
    return buffer;
}

} // namespace OV::CommonAppLogic
