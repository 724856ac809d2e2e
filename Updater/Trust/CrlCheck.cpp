#include "Updater/Trust/CrlCheck.h"

#include "System/Win32/HandleHolder.h"
#include "Updater/Trust/CryptHandles.h"

namespace OV::Updater::Trust
{
namespace
{

// Each fetch ends by itself well within the time a trust check may take.
constexpr DWORD kRetrievalTimeoutMs = 10000;

enum class CrlVerdict
{
    Unusable,
    Listed,
    NotListed
};

// A CRL counts only when its issuer signed it and it is current; a cached copy that is not (an old
// one, or one of an earlier issuer at the same address) is fetched again from the wire.
CrlVerdict CheckAgainstCrl(PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer, const wchar_t* url)
{
    for (const DWORD flags : {DWORD{0}, DWORD{CRYPT_WIRE_ONLY_RETRIEVAL}})
    {
        LPVOID retrieved = nullptr;
        if (!::CryptRetrieveObjectByUrlW(url, CONTEXT_OID_CRL, flags, kRetrievalTimeoutMs, &retrieved,
                                         nullptr, nullptr, nullptr, nullptr))
            continue;
        const CCrlContext crl(static_cast<PCCRL_CONTEXT>(retrieved));
        if (!crl)
            continue;
        const bool issuedByIssuer =
            ::CertCompareCertificateName(X509_ASN_ENCODING, &crl.Get()->pCrlInfo->Issuer,
                                         &issuer->pCertInfo->Subject) &&
            ::CryptVerifyCertificateSignatureEx(
                0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL, const_cast<CRL_CONTEXT*>(crl.Get()),
                CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
        if (!issuedByIssuer || ::CertVerifyCRLTimeValidity(nullptr, crl.Get()->pCrlInfo) != 0)
            continue;
        PCRL_ENTRY entry = nullptr;
        if (!::CertFindCertificateInCRL(certificate, crl.Get(), 0, nullptr, &entry))
            continue;
        return entry != nullptr ? CrlVerdict::Listed : CrlVerdict::NotListed;
    }
    return CrlVerdict::Unusable;
}

bool IsUnrevoked(PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer)
{
    const PCERT_EXTENSION extension = ::CertFindExtension(
        szOID_CRL_DIST_POINTS, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
    if (extension == nullptr)
        return true;
    CRL_DIST_POINTS_INFO* decoded = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size) ||
        decoded == nullptr)
        return false;
    const System::Win32::CLocalMemory owned(decoded);
    for (DWORD p = 0; p < decoded->cDistPoint; ++p)
    {
        const CRL_DIST_POINT_NAME& name = decoded->rgDistPoint[p].DistPointName;
        if (name.dwDistPointNameChoice != CRL_DIST_POINT_FULL_NAME)
            continue;
        for (DWORD n = 0; n < name.FullName.cAltEntry; ++n)
        {
            const CERT_ALT_NAME_ENTRY& entry = name.FullName.rgAltEntry[n];
            if (entry.dwAltNameChoice != CERT_ALT_NAME_URL || entry.pwszURL == nullptr)
                continue;
            const CrlVerdict verdict = CheckAgainstCrl(certificate, issuer, entry.pwszURL);
            if (verdict != CrlVerdict::Unusable)
                return verdict == CrlVerdict::NotListed;
        }
    }
    return false;
}

} // namespace

bool AreChainCertificatesUnrevoked(const CERT_CHAIN_CONTEXT& chain)
{
    for (DWORD c = 0; c < chain.cChain; ++c)
    {
        const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[c];
        // The last element is the root (or, in a partial chain, one with no issuer to ask).
        for (DWORD e = 0; e + 1 < simple.cElement; ++e)
        {
            if (!IsUnrevoked(simple.rgpElement[e]->pCertContext, simple.rgpElement[e + 1]->pCertContext))
                return false;
        }
    }
    return true;
}

} // namespace OV::Updater::Trust
