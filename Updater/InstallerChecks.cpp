#include "Updater/InstallerChecks.h"

#include "Updater/RunContext.h"
#include "Updater/Trust/FileHash.h"
#include "Updater/Trust/FileSignature.h"
#include "Updater/Trust/HeldFile.h"

namespace OV::Updater
{

namespace
{

bool Refuse(Trust::CHeldFile& held, const std::wstring& result)
{
    ReportResultText(result);
    held.Release();
    ::DeleteFileW(held.Path().c_str());
    return false;
}

} // namespace

bool CheckDownloadedInstaller(const std::wstring& path, std::int64_t expectedSize,
                              const std::string& expectedHash, const std::wstring& suffix,
                              Trust::CHeldFile& held)
{
    // Held from before the first check until the start: nothing can swap the file in between.
    held = Trust::CHeldFile(path);
    if (expectedSize > 0 && held.Size() != expectedSize)
        return Refuse(held, L"PatchSize" + suffix);
    if (!expectedHash.empty())
    {
        Trust::Sha256Digest digest = {};
        if (!Trust::Sha256OfHeldFile(held, digest))
            return Refuse(held, L"PatchHashCompute" + suffix);
        if (!Trust::HashTextEquals(Trust::DigestToHex(digest), expectedHash))
            return Refuse(held, L"PatchHashValue" + suffix);
    }
    if (!Trust::IsHeldFileOrvaneSigned(held))
        return Refuse(held, L"PatchSignature" + suffix);
    return true;
}

} // namespace OV::Updater
