#include "Updater/Trust/SignerChain.h"

#include "Updater/Trust/CryptHandles.h"

namespace OV::Updater::Trust
{
namespace
{

#ifndef CERT_TRUST_IS_EXPLICIT_DISTRUST
#define CERT_TRUST_IS_EXPLICIT_DISTRUST 0x04000000
#endif

// Time validity and usage are left out: WinVerifyTrust judges them (a time-stamped signature stays
// valid after its certificate expired).
constexpr DWORD kRejectingStatus = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                   CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC |
                                   CERT_TRUST_IS_EXPLICIT_DISTRUST | CERT_TRUST_IS_REVOKED |
                                   CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

} // namespace

bool GetSignerChainStatus(PCCERT_CONTEXT signer, DWORD& errorStatus)
{
    if (signer == nullptr)
        return false;
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    CCertChain chain;
    if (!::CertGetCertificateChain(nullptr, signer, nullptr, signer->hCertStore, &parameters,
                                   CERT_CHAIN_REVOCATION_CHECK_CHAIN, nullptr, chain.Put()) ||
        !chain)
        return false;
    errorStatus = chain.Get()->TrustStatus.dwErrorStatus;
    return true;
}

bool IsSignerChainTrusted(PCCERT_CONTEXT signer)
{
    DWORD status = 0;
    return GetSignerChainStatus(signer, status) && (status & kRejectingStatus) == 0;
}

} // namespace OV::Updater::Trust
