#include "Updater/PartialDownload.h"

#include "System/Io/Directory.h"
#include "System/Net/MultiStreamDownload/DownloadStreamOwner.h"
#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/SystemInfo.h"
#include "System/Win32/HandleHolder.h"

#include <algorithm>
#include <vector>

namespace OV::Updater
{

namespace
{

namespace MSD = System::Net::MultiStreamDownload;

const wchar_t kStateSuffix[] = L".downloadstate";

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The cache file's last write, when it is a plain file of its own: not a link or reparse point and with
// no second name elsewhere (a hard link), which a run, perhaps elevated, would otherwise write the
// download into.
bool PlainFileLastWrite(const std::wstring& path, ULONGLONG& ticks)
{
    const System::Win32::CHandleHolder file(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        information.nNumberOfLinks != 1)
        return false;
    ticks = Ticks(information.ftLastWriteTime);
    return true;
}

// Every state file of T reads whole and agrees with the plan; a stream file may be missing (its stream
// had not written a block yet), but not damaged.
bool StateIsWhole(const std::wstring& target)
{
    MSD::DownloadProgress plan(target);
    MSD::DownloadOrigin origin(target);
    if (!plan.Read() || !plan.IsUsable() || !origin.Read())
        return false;
    for (std::uint32_t index = 0; index < MSD::kMaxStreams; ++index)
    {
        if (!System::FileExists(MSD::StreamProgress::FileName(target, index)))
            continue;
        MSD::StreamProgress stream(target, index);
        if (index >= plan.ThreadsUsed || !stream.Read() || !stream.Fits(index, plan.ThreadsUsed))
            return false;
    }
    return true;
}

} // namespace

std::wstring FindResumableDownload(const std::wstring& folder, const FILETIME& now)
{
    const std::size_t suffixLength = sizeof(kStateSuffix) / sizeof(wchar_t) - 1;
    const ULONGLONG nowTicks = Ticks(now);
    std::wstring best;
    ULONGLONG bestTicks = 0;
    for (const std::wstring& name :
         System::IO::CDirectory::GetFiles(folder, std::wstring(L"*") + kStateSuffix))
    {
        if (name.size() <= suffixLength ||
            name.compare(name.size() - suffixLength, suffixLength, kStateSuffix) != 0)
            continue; // the pattern also matches short names and longer extensions
        const std::wstring targetName = name.substr(0, name.size() - suffixLength);
        const std::wstring target = folder + targetName;
        ULONGLONG written = 0;
        // A time ahead of the clock by more than the age limit is as stale as one behind it.
        if (!PlainFileLastWrite(MSD::CHTTPDownload::CacheFileName(target), written) ||
            (written < nowTicks ? nowTicks - written : written - nowTicks) > kPartialDownloadMaxAge ||
            !StateIsWhole(target))
            continue;
        if (best.empty() || written > bestTicks)
        {
            best = targetName;
            bestTicks = written;
        }
    }
    return best;
}

bool IsPartialDownloadFile(const std::wstring& name, const std::wstring& targetName)
{
    if (targetName.empty())
        return false;
    std::vector<std::wstring> files = MSD::CHTTPDownload::StateFileNames(targetName);
    files.push_back(MSD::CHTTPDownload::CacheFileName(targetName));
    return std::any_of(
        files.begin(), files.end(),
        [&name](const std::wstring& file)
        { return ::CompareStringOrdinal(name.c_str(), -1, file.c_str(), -1, TRUE) == CSTR_EQUAL; });
}

void DeleteAllButPartialDownload(const std::wstring& folder, const std::wstring& keep)
{
    for (const std::wstring& name : System::IO::CDirectory::GetFiles(folder, L"*"))
    {
        if (!IsPartialDownloadFile(name, keep))
            ::DeleteFileW((folder + L"\\" + name).c_str());
    }
}

} // namespace OV::Updater
