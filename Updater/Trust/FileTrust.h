// Asks Windows whether it trusts one signature of a file.
#pragma once

#include "System/Platform.h"

#include <wincrypt.h>

#include <string>

namespace OV::Updater::Trust
{

// WinVerifyTrust (generic verify, no UI, revocation checked for the whole chain) for the signer at
// signerIndex; before Windows 8 the index cannot be passed and the file's default signature is
// verified. The file is read through the caller's handle (held so that nobody can change it). True
// when WinVerifyTrust returns 0 and the signer it verified is scannedSigner, of one of the maker's
// organisations.
bool VerifyFileTrust(const std::wstring& path, HANDLE file, unsigned int signerIndex,
                     PCCERT_CONTEXT scannedSigner);

} // namespace OV::Updater::Trust
