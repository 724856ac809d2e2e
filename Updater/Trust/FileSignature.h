// The signature and signer check of a downloaded installer.
#pragma once

#include <string>

namespace OV::Updater::Trust
{

class CHeldFile;

// True when the file's embedded Authenticode signature has a signer of one of the maker's
// organisations, Windows trusts the file for that signer (chain and revocation included), the signer
// Windows verified is that one, and the certificate table carries nothing but signatures. The file is
// read only through the held handle. A missing, unsigned or damaged file gives false; never throws.
bool IsHeldFileOrvaneSigned(const CHeldFile& file);

// The same for a file opened (and held) only for the length of the check.
bool IsFileOrvaneSigned(const std::wstring& path);

} // namespace OV::Updater::Trust
