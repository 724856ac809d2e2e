#include "Updater/Trust/FileTrust.h"

#include "System/Platform.h"
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

} // namespace

bool VerifyFileTrust(const std::wstring& path, unsigned int signerIndex)
{
    const bool canChooseSigner = IsWindowsVersionOrGreater(6, 2, 0);

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    file.hFile = nullptr;
    file.pgKnownSubject = nullptr;

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
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
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
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust) == 0;
}

} // namespace OV::Updater::Trust
