#include "Updater/Trust/FileTrust.h"

#include "System/Platform.h"
#include "Updater/Trust/OrganizationName.h"
#include "Updater/Trust/WindowsVersion.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstddef>

namespace OV::Updater::Trust
{
namespace
{

// WINTRUST_SIGNATURE_SETTINGS and the Windows 8 tail of WINTRUST_DATA, which MinGW's wintrust.h lacks.
struct SignatureSettings
{
    DWORD cbStruct;
    DWORD dwIndex;
    DWORD dwFlags;
    DWORD cSecondarySigs;
    DWORD dwVerifiedSigIndex;
    void* pCryptoPolicy;
};

struct TrustDataWithSettings
{
    WINTRUST_DATA data;
    SignatureSettings* pSignatureSettings;
};

constexpr DWORD kVerifySpecificSignature = 0x00000001; // WSS_VERIFY_SPECIFIC

#ifndef _WIN64
// The sizes Windows expects from a 32-bit caller.
static_assert(sizeof(WINTRUST_FILE_INFO) == 16);
static_assert(sizeof(SignatureSettings) == 24);
static_assert(offsetof(TrustDataWithSettings, pSignatureSettings) == 48);
static_assert(sizeof(TrustDataWithSettings) == 52);
#endif

// The signer WinVerifyTrust verified must be the maker's certificate that the signer scan found: a
// file whose two answers differ is refused, whichever of them is right.
bool IsVerifiedSignerTheScannedOne(HANDLE state, PCCERT_CONTEXT scannedSigner)
{
    if (state == nullptr || scannedSigner == nullptr)
        return false;
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate =
        signer != nullptr ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (certificate == nullptr || certificate->pCert == nullptr || certificate->pCert->pCertInfo == nullptr)
        return false;
    if (!::CertCompareCertificate(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate->pCert->pCertInfo,
                                  scannedSigner->pCertInfo))
        return false;
    return IsMakerOrganization(NormalizeOrganizationName(GetSignerOrganization(certificate->pCert)));
}

} // namespace

bool VerifyFileTrust(const std::wstring& path, HANDLE file, unsigned int signerIndex,
                     PCCERT_CONTEXT scannedSigner)
{
    const bool canChooseSigner = IsWindowsVersionOrGreater(6, 2, 0);

    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    // The handle the caller holds: WinVerifyTrust reads the very bytes that were scanned and will run.
    fileInfo.hFile = file;
    fileInfo.pgKnownSubject = nullptr;

    SignatureSettings settings{};
    settings.cbStruct = sizeof(settings);
    settings.dwIndex = signerIndex;
    settings.dwFlags = kVerifySpecificSignature;
    settings.cSecondarySigs = 0;
    settings.pCryptoPolicy = nullptr;

    TrustDataWithSettings trust{};
    WINTRUST_DATA& data = trust.data;
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    // Keep the provider's state, so the signer it verified can be read afterwards.
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;
    data.dwUIContext = 0;
    if (canChooseSigner)
    {
        data.cbStruct = sizeof(TrustDataWithSettings);
        trust.pSignatureSettings = &settings;
    }
    else
    {
        data.cbStruct = offsetof(TrustDataWithSettings, pSignatureSettings);
    }

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    const bool accepted = verdict == 0 && IsVerifiedSignerTheScannedOne(data.hWVTStateData, scannedSigner);

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    return accepted;
}

} // namespace OV::Updater::Trust
