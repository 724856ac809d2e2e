#include "Updater/Trust/SignerScan.h"

#include "Updater/Trust/OrganizationName.h"

#include <imagehlp.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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

namespace
{

// A certificate table larger than this is not an Authenticode signature of ours.
constexpr DWORD kMostCertificateTableBytes = 1024 * 1024;

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD count)
{
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ::ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

// The file offset and size of the certificate table named by the PE headers; false when the file is
// not a PE file or names none.
bool FindCertificateTable(HANDLE file, DWORD& offset, DWORD& size)
{
    IMAGE_DOS_HEADER dos{};
    if (!ReadAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return false;
    const ULONGLONG headers = static_cast<ULONGLONG>(dos.e_lfanew);
    DWORD signature = 0;
    WORD magic = 0;
    constexpr ULONGLONG kOptionalHeader = sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    if (!ReadAt(file, headers, &signature, sizeof(signature)) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file, headers + kOptionalHeader, &magic, sizeof(magic)))
        return false;
    // The data directories sit at a different place in 32-bit and 64-bit optional headers.
    ULONGLONG directories = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        directories = headers + kOptionalHeader + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        directories = headers + kOptionalHeader + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    else
        return false;
    IMAGE_DATA_DIRECTORY table{};
    if (!ReadAt(file, directories + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY), &table,
                sizeof(table)))
        return false;
    offset = table.VirtualAddress;
    size = table.Size;
    return offset != 0 && size != 0;
}

// The length of the DER value at the start of bytes (tag, length and contents); 0 when it is not a
// definite-length DER value that fits.
std::size_t DerValueLength(const BYTE* bytes, std::size_t count)
{
    if (count < 2)
        return 0;
    std::size_t length = bytes[1];
    std::size_t header = 2;
    if (length & 0x80)
    {
        const std::size_t lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4 || count < 2 + lengthBytes)
            return 0;
        length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i)
            length = (length << 8) | bytes[2 + i];
        header += lengthBytes;
    }
    return header + length <= count ? header + length : 0;
}

bool AllZero(const BYTE* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
    {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace

bool HasNothingButSignaturesInTable(HANDLE file)
{
    DWORD offset = 0;
    DWORD size = 0;
    LARGE_INTEGER fileSize{};
    if (!FindCertificateTable(file, offset, size) || size > kMostCertificateTableBytes ||
        !::GetFileSizeEx(file, &fileSize) ||
        static_cast<ULONGLONG>(offset) + size > static_cast<ULONGLONG>(fileSize.QuadPart))
        return false;
    std::vector<BYTE> table(size);
    if (!ReadAt(file, offset, table.data(), size))
        return false;

    constexpr std::size_t kHeaderSize = offsetof(WIN_CERTIFICATE, bCertificate);
    std::size_t position = 0;
    while (position < table.size())
    {
        if (table.size() - position < kHeaderSize)
            return false;
        WIN_CERTIFICATE header{};
        std::memcpy(&header, table.data() + position, kHeaderSize);
        if (header.dwLength <= kHeaderSize || header.dwLength > table.size() - position)
            return false;
        // Each entry is one DER-encoded signed message; anything after it but the zero padding up to
        // the next multiple of 8 is data that the signature does not cover.
        const BYTE* content = table.data() + position + kHeaderSize;
        const std::size_t contentSize = header.dwLength - kHeaderSize;
        const std::size_t messageSize = DerValueLength(content, contentSize);
        const std::size_t entryEnd = position + header.dwLength;
        const std::size_t paddedEnd = std::min(table.size(), (entryEnd + 7) & ~static_cast<std::size_t>(7));
        if (messageSize == 0 || contentSize - messageSize >= 8 ||
            !AllZero(content + messageSize, contentSize - messageSize) ||
            !AllZero(table.data() + entryEnd, paddedEnd - entryEnd))
            return false;
        position = paddedEnd;
    }
    return true;
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
