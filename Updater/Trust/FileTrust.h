// Asks Windows whether it trusts one signature of a file.
#pragma once

#include <string>

namespace OV::Updater::Trust
{

// WinVerifyTrust (generic verify, no UI, revocation checked for the whole chain) for the signer at
// signerIndex; before Windows 8 the index cannot be passed and the file's default signature is
// verified. True exactly when WinVerifyTrust returns 0.
bool VerifyFileTrust(const std::wstring& path, unsigned int signerIndex);

} // namespace OV::Updater::Trust
