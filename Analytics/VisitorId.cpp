#include "Analytics/VisitorId.h"

#include "CommonAppLogic/IniFile.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"
#include "System/Win32/Synchronization.h"

namespace OV::Analytics
{

namespace
{

constexpr wchar_t kSection[] = L"Analytics";
constexpr wchar_t kKey[] = L"VisitorID";

// The cache and its lock live as long as the process; the lock is made on first use, before any thread
// of ours can race for it.
struct VisitorIdCache
{
    System::Win32::CCriticalSection lock;
    std::wstring id;
};

VisitorIdCache& Cache()
{
    static VisitorIdCache cache;
    return cache;
}

std::wstring VisitorFile()
{
    using System::IO::CFilePath;
    return CFilePath::Combine(CFilePath::Combine(System::GetRoamingAppDataFolder(nullptr), L"Orvane"),
                              L"Orvane.ini");
}

// No operation here reports an error: an unreadable file reads as an empty one. Load remembers the path
// before it reads, so a later Save writes to it also when the file was missing.
bool LoadVisitorFile(CommonAppLogic::CIniFile& file)
{
    try
    {
        file.Load(VisitorFile());
        return true;
    }
    catch (...)
    {
        return false;
    }
}

} // namespace

std::wstring GetVisitorId(HANDLE token)
{
    VisitorIdCache& cache = Cache();
    System::Win32::CCriticalSectionLock hold(cache.lock);
    if (cache.id.empty())
    {
        CommonAppLogic::CIniFile file;
        if (LoadVisitorFile(file))
        {
            const auto section = file.GetContent().find(kSection);
            if (section != file.GetContent().end())
            {
                const auto value = section->second.find(kKey);
                if (value != section->second.end())
                    cache.id = value->second;
            }
        }
    }
    if (cache.id.empty())
        SetVisitorId(System::NewGuidText(), token);
    return cache.id;
}

void SetVisitorId(const std::wstring& id, HANDLE token)
{
    VisitorIdCache& cache = Cache();
    System::Win32::CCriticalSectionLock hold(cache.lock);
    if (id == cache.id)
        return;
    cache.id = id;
    CommonAppLogic::CIniFile file;
    LoadVisitorFile(file);
    const std::wstring folder =
        System::IO::CFilePath::Combine(System::GetRoamingAppDataFolder(token), L"Orvane");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    file.Set(kSection, kKey, id);
    file.Save();
}

} // namespace OV::Analytics
