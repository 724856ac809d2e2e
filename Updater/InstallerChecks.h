#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

namespace Trust
{
class CHeldFile;
}

// Size, hash and signature checks of a downloaded installer, in that order, all on the file held open
// (others may only read it) from the first check on. A failed check is reported ("PatchSize",
// "PatchHashCompute", "PatchHashValue", "PatchSignature", each followed by the attempt's suffix), the
// file is released and deleted. True when the file may be handed on: it then stays held in `held`
// until the installer has started.
bool CheckDownloadedInstaller(const std::wstring& path, std::int64_t expectedSize,
                              const std::string& expectedHash, const std::wstring& suffix,
                              Trust::CHeldFile& held);

} // namespace OV::Updater
