#include "Updater/InstallerChecks.h"

#include "System/Io/Stream/FileStream.h"
#include "System/RefPtr.h"
#include "System/SystemInfo.h"
#include "Updater/RunContext.h"
#include "Updater/Trust/FileHash.h"
#include "Updater/Trust/FileSignature.h"

namespace OV::Updater
{

namespace
{

enum class HashCheck
{
    Passed,
    ComputeFailed,
    Differs
};

HashCheck CheckHash(const std::wstring& path, const std::string& expectedHash)
{
    Trust::Sha256Digest digest = {};
    bool computed = false;
    try
    {
        // The stream is closed before the signature check opens the file again.
        System::CRefPtr<System::IO::Stream::CFileStream> stream(new System::IO::Stream::CFileStream(
            path, System::IO::Stream::FileStreamMode::OpenExisting, System::IO::Stream::FileAccessRead,
            FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL));
        computed = Trust::Sha256OfStream(*stream, digest);
    }
    catch (...)
    {
        computed = false;
    }
    if (!computed)
        return HashCheck::ComputeFailed;
    return Trust::HashTextEquals(Trust::DigestToHex(digest), expectedHash) ? HashCheck::Passed
                                                                           : HashCheck::Differs;
}

} // namespace

bool CheckDownloadedInstaller(const std::wstring& path, std::int64_t expectedSize,
                              const std::string& expectedHash, const std::wstring& suffix)
{
    if (expectedSize > 0 && System::GetFileSize(path) != static_cast<std::uint64_t>(expectedSize))
    {
        ReportResultText(L"PatchSize" + suffix);
        ::DeleteFileW(path.c_str());
        return false;
    }
    if (!expectedHash.empty())
    {
        switch (CheckHash(path, expectedHash))
        {
        case HashCheck::ComputeFailed:
            ReportResultText(L"PatchHashCompute" + suffix);
            ::DeleteFileW(path.c_str());
            return false;
        case HashCheck::Differs:
            ReportResultText(L"PatchHashValue" + suffix);
            ::DeleteFileW(path.c_str());
            return false;
        case HashCheck::Passed:
            break;
        }
    }
    if (!Trust::IsFileOrvaneSigned(path))
    {
        ReportResultText(L"PatchSignature" + suffix);
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

} // namespace OV::Updater
