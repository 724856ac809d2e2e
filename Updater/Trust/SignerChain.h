// Checks the signer certificate's chain once more after WinVerifyTrust accepted the file. On Windows
// this repeats what WinVerifyTrust decided; Wine's WinVerifyTrust checks neither the root's trust nor
// revocation, so without it an untrusted or revoked signer would pass there.
#pragma once

#include "System/Platform.h"

#include <wincrypt.h>

#include <vector>

namespace OV::Updater::Trust
{

// The chain's error status (CERT_TRUST_*), revocation checked for every certificate in it, with the
// certificates of the signed message (the intermediates) as an extra store; false when no chain
// could be built.
bool GetSignerChainStatus(PCCERT_CONTEXT signer, const std::vector<BYTE>& message, DWORD& errorStatus);

// The check against each issuer's own CRL that IsSignerChainTrusted makes after the chain engine's,
// on its own (the chain engine's answers are not consulted).
bool AreSignerCrlsClean(PCCERT_CONTEXT signer, const std::vector<BYTE>& message);

// False when the chain ends in an untrusted root, is incomplete, has a bad signature or a revoked
// certificate, or when the revocation of a certificate below the root could not be checked, by the
// chain engine or against the issuer's own CRL.
bool IsSignerChainTrusted(PCCERT_CONTEXT signer, const std::vector<BYTE>& message);

} // namespace OV::Updater::Trust
