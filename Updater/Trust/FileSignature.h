// The signature and signer check of a downloaded installer.
#pragma once

#include <string>

namespace OV::Updater::Trust
{

// True when the file's embedded Authenticode signature has a signer of one of the maker's
// organisations and Windows trusts the file for that signer (chain and revocation included).
// A missing, unsigned or damaged file gives false; never throws.
bool IsFileOrvaneSigned(const std::wstring& path);

} // namespace OV::Updater::Trust
