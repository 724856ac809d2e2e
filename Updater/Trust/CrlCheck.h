// Checks each certificate of a signer's chain against its issuer's certificate revocation list,
// fetched and verified here rather than taken from the chain engine's answer. On Windows this repeats
// what the chain engine decided; Wine's cryptnet records a revoked certificate as good after its first
// check, so without it a second check would accept a revoked signer.
#pragma once

#include "System/Platform.h"

#include <wincrypt.h>

namespace OV::Updater::Trust
{

// True when no certificate below the root of the chain is listed in the CRL of its issuer. A
// certificate that names distribution points counts as unchecked (false) unless one of them gives
// a CRL signed by its issuer and current. Certificates that name none are left to the chain engine.
bool AreChainCertificatesUnrevoked(const CERT_CHAIN_CONTEXT& chain);

} // namespace OV::Updater::Trust
