#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

// Size, hash and signature checks of a downloaded installer, in that order. A failed check is
// reported ("PatchSize", "PatchHashCompute", "PatchHashValue", "PatchSignature", each followed by the
// attempt's suffix) and the file is deleted. True when the file may be handed on.
bool CheckDownloadedInstaller(const std::wstring& path, std::int64_t expectedSize,
                              const std::string& expectedHash, const std::wstring& suffix);

} // namespace OV::Updater
