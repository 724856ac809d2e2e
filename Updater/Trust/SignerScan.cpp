#include "Updater/Trust/SignerScan.h"

#include "Updater/Trust/OrganizationName.h"

#include <imagehlp.h>

#include <cstddef>

namespace OV::Updater::Trust
{
namespace
{

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A real signature has a handful of signers; the bound only guards against a message that reports a
// mismatch for every index.
constexpr DWORD kMostSignerIndexes = 256;

bool IsSignatureMismatch(DWORD error)
{
    return error == static_cast<DWORD>(NTE_BAD_SIGNATURE) || error == static_cast<DWORD>(CRYPT_E_HASH_VALUE);
}

} // namespace

System::Win32::CHandleHolder OpenFileForSignatureCheck(const std::wstring& path)
{
    return System::Win32::CHandleHolder(
        ::CreateFileW(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadFirstSignedMessage(HANDLE file, std::vector<BYTE>& message)
{
    DWORD count = 0;
    if (!::ImageEnumerateCertificates(file, CERT_SECTION_TYPE_ANY, &count, nullptr, 0) || count == 0)
        return false;

    WIN_CERTIFICATE header{};
    if (!::ImageGetCertificateHeader(file, 0, &header))
        return false;
    // The header comes from the file: an entry larger than the file is damage, not a reason to
    // allocate gigabytes.
    LARGE_INTEGER fileSize{};
    constexpr DWORD kHeaderSize = offsetof(WIN_CERTIFICATE, bCertificate);
    if (!::GetFileSizeEx(file, &fileSize) || header.dwLength <= kHeaderSize ||
        static_cast<ULONGLONG>(header.dwLength) > static_cast<ULONGLONG>(fileSize.QuadPart))
        return false;

    std::vector<BYTE> buffer(static_cast<std::size_t>(header.dwLength) + sizeof(WIN_CERTIFICATE));
    auto* entry = reinterpret_cast<WIN_CERTIFICATE*>(buffer.data());
    entry->dwLength = header.dwLength;
    entry->wRevision = WIN_CERT_REVISION_1_0;
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!::ImageGetCertificateData(file, 0, entry, &length) || entry->dwLength <= kHeaderSize ||
        entry->dwLength > header.dwLength)
        return false;
    message.assign(entry->bCertificate, entry->bCertificate + (entry->dwLength - kHeaderSize));
    return true;
}

int FindMakerSigner(const std::vector<BYTE>& message, CCertContext& signer)
{
    for (DWORD index = 0; index < kMostSignerIndexes; ++index)
    {
        CRYPT_VERIFY_MESSAGE_PARA parameters{};
        parameters.cbSize = sizeof(parameters);
        parameters.dwMsgAndCertEncodingType = kEncoding;
        parameters.hCryptProv = 0;
        parameters.pfnGetSignerCertificate = nullptr;
        parameters.pvGetArg = nullptr;

        CCertContext certificate;
        if (::CryptVerifyMessageSignature(&parameters, index, message.data(),
                                          static_cast<DWORD>(message.size()), nullptr, nullptr,
                                          certificate.Put()))
        {
            if (certificate && certificate.Get()->pCertInfo != nullptr)
            {
                const std::wstring organization = GetSignerOrganization(certificate.Get());
                if (!organization.empty() && IsMakerOrganization(NormalizeOrganizationName(organization)))
                {
                    signer = std::move(certificate);
                    return static_cast<int>(index);
                }
            }
            continue;
        }
        // Windows ends with CRYPT_E_NO_SIGNER, Wine with CRYPT_E_INVALID_INDEX; an undecodable message
        // fails the same way for every index. Only a signer whose signature does not verify lets the
        // scan go on.
        if (!IsSignatureMismatch(::GetLastError()))
            return -1;
    }
    return -1;
}

int CountMessageSigners(const std::vector<BYTE>& message)
{
    CCryptMessage decoder(::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!decoder ||
        !::CryptMsgUpdate(decoder.Get(), message.data(), static_cast<DWORD>(message.size()), TRUE))
        return -1;
    DWORD signers = 0;
    DWORD size = sizeof(signers);
    if (!::CryptMsgGetParam(decoder.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size))
        return -1;
    return static_cast<int>(signers);
}

} // namespace OV::Updater::Trust
