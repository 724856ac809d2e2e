#include "Updater/Trust/SignerChain.h"

#include "Updater/Trust/CrlCheck.h"
#include "Updater/Trust/CryptHandles.h"

namespace OV::Updater::Trust
{
namespace
{

#ifndef CERT_TRUST_IS_EXPLICIT_DISTRUST
#define CERT_TRUST_IS_EXPLICIT_DISTRUST 0x04000000
#endif

constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// Time validity and usage are left out: WinVerifyTrust judges them (a time-stamped signature stays
// valid after its certificate expired).
constexpr DWORD kRejectingStatus =
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
    CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_EXPLICIT_DISTRUST | CERT_TRUST_IS_REVOKED | kRevocationUnknown;

// The chain's error bits, except that a self-signed root whose revocation could not be checked
// counts as checked. Nothing can vouch for a root but the root store: Windows does not check its
// revocation, while Wine asks the distribution point named in the root, finds no issuer to verify the
// answer with, and reports the root as offline.
DWORD ChainErrorStatus(const CERT_CHAIN_CONTEXT& chain)
{
    DWORD revocation = 0;
    for (DWORD c = 0; c < chain.cChain; ++c)
    {
        const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[c];
        for (DWORD e = 0; e < simple.cElement; ++e)
        {
            const CERT_TRUST_STATUS& status = simple.rgpElement[e]->TrustStatus;
            DWORD bits = status.dwErrorStatus & (CERT_TRUST_IS_REVOKED | kRevocationUnknown);
            const bool isRoot =
                e + 1 == simple.cElement && (status.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
            if (isRoot)
                bits &= ~kRevocationUnknown;
            revocation |= bits;
        }
    }
    return (chain.TrustStatus.dwErrorStatus & ~(CERT_TRUST_IS_REVOKED | kRevocationUnknown)) | revocation;
}

bool BuildSignerChain(PCCERT_CONTEXT signer, const std::vector<BYTE>& message, CCertChain& chain)
{
    if (signer == nullptr)
        return false;
    // Wine's chain engine does not find the intermediates through the signer certificate's own store,
    // so the message's certificates are opened as a store of their own.
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(message.size()), const_cast<BYTE*>(message.data())};
    const CCertStore messageStore(
        ::CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, &blob));
    if (!messageStore)
        return false;
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    return ::CertGetCertificateChain(nullptr, signer, nullptr, messageStore.Get(), &parameters,
                                     CERT_CHAIN_REVOCATION_CHECK_CHAIN, nullptr, chain.Put()) &&
           chain;
}

} // namespace

bool GetSignerChainStatus(PCCERT_CONTEXT signer, const std::vector<BYTE>& message, DWORD& errorStatus)
{
    CCertChain chain;
    if (!BuildSignerChain(signer, message, chain))
        return false;
    errorStatus = ChainErrorStatus(*chain.Get());
    return true;
}

bool AreSignerCrlsClean(PCCERT_CONTEXT signer, const std::vector<BYTE>& message)
{
    CCertChain chain;
    return BuildSignerChain(signer, message, chain) && AreChainCertificatesUnrevoked(*chain.Get());
}

bool IsSignerChainTrusted(PCCERT_CONTEXT signer, const std::vector<BYTE>& message)
{
    CCertChain chain;
    return BuildSignerChain(signer, message, chain) &&
           (ChainErrorStatus(*chain.Get()) & kRejectingStatus) == 0 &&
           AreChainCertificatesUnrevoked(*chain.Get());
}

} // namespace OV::Updater::Trust
