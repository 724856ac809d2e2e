// The files of a download: the clean-up of its state and cache files, and the final move into place.
#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/SystemInfo.h"

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

// The download's exceptions name its own source, also for the part that lives in this file.
constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\HTTPDownload.cpp";
constexpr int kMoveAttempts = 100;
constexpr DWORD kMoveRetryMs = 250;

} // namespace

std::vector<std::wstring> CHTTPDownload::StateFileNames(const std::wstring& target)
{
    std::vector<std::wstring> names;
    for (std::uint32_t index = 0; index < kMaxStreams; ++index)
        names.push_back(StreamProgress::FileName(target, index));
    names.push_back(DownloadProgress::FileName(target));
    names.push_back(DownloadOrigin::FileName(target));
    return names;
}

void CHTTPDownload::Cleanup(bool deleteCache)
{
    Win32::CCriticalSectionLock lock(m_StateLock);
    ::DeleteFileW(m_Target.c_str());
    for (const std::wstring& name : StateFileNames(m_Target))
        ::DeleteFileW(name.c_str()); // a missing file is what we want
    if (deleteCache)
        ::DeleteFileW(CacheFileName(m_Target).c_str());
}

void CHTTPDownload::FinalizeDownload(const std::wstring& target, bool checkSize, std::uint32_t expectedSize,
                                     Win32::CThread& thread)
{
    Cleanup(false);
    const std::wstring cache = CacheFileName(target);
    for (int attempt = 1; !::MoveFileW(cache.c_str(), target.c_str()); ++attempt)
    {
        const DWORD error = ::GetLastError();
        if (attempt >= kMoveAttempts || thread.WaitForStopSignal(kMoveRetryMs))
        {
            ::SetLastError(error); // the wait may have changed it; the move's failure is the one to tell
            OV_THROW(L"Failed to move cache file to " + target);
        }
    }
    OV_THROW_IF(!System::FileExists(target), L"Failed to validate output file exists:" + target);
    if (checkSize)
    {
        const std::uint64_t actual = System::GetFileSize(target);
        OV_THROW_IF(actual != expectedSize, L"Output file is wrong size. " + target + L" should be " +
                                                std::to_wstring(expectedSize) + L" but is " +
                                                std::to_wstring(actual));
    }
}

} // namespace OV::System::Net::MultiStreamDownload
