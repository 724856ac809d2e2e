#include "System/Net/MultiStreamDownload/ProgressFile.h"

#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Net/MultiStreamDownload/OpenWithRetries.h"
#include "System/Platform.h"
#include "System/SystemInfo.h"
#include "System/String/AnsiWide.h"

#include <cstring>
#include <vector>
#include <utility>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\ProgressFile.cpp";
// A stream record is written through its open file, but its failures are known as those of
// StreamProgress::Write, at the lines they have always carried.
constexpr char kStreamWrite[] = "OV::System::Net::MultiStreamDownload::StreamProgress::Write";
constexpr FixedPlace kStreamWriteFailure(239, kStreamWrite);
constexpr FixedPlace kStreamOpenFailure(254, kStreamWrite);

void PutUint32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetUint32(const unsigned char* at)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return value;
}

// Reads exactly size bytes; false on any failure (missing, locked for all retries, short).
bool ReadRecordFile(const std::wstring& path, unsigned char* bytes, DWORD size, Win32::CThread* stopOwner)
{
    if (!System::FileExists(path))
        return false;
    const Win32::CHandleHolder file = OpenWithRetries(path, GENERIC_READ, 0, OPEN_EXISTING, stopOwner);
    if (!file.IsValid())
        return false;
    DWORD read = 0;
    return ::ReadFile(file.Get(), bytes, size, &read, nullptr) && read == size;
}

// Puts a record over the one in an open file: one WriteFile at offset 0 rather than truncating first, so
// that a process killed at any moment leaves either the old record or the new one, never an empty file
// that would throw away a stream's progress. False with the last error set on failure.
bool WriteRecordAt(HANDLE file, const unsigned char* bytes, DWORD size, bool setEnd)
{
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    DWORD written = 0;
    if (!::WriteFile(file, bytes, size, &written, nullptr))
        return false;
    if (written != size)
    {
        ::SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return !setEnd || ::SetEndOfFile(file);
}

Win32::CHandleHolder OpenRecordFileForWriting(const std::wstring& path, DWORD shareMode,
                                              Win32::CThread* stopOwner)
{
    return OpenWithRetries(path, GENERIC_WRITE, shareMode, OPEN_ALWAYS, stopOwner);
}

void PutText(std::vector<unsigned char>& bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void DeleteIfPresent(const std::wstring& path)
{
    ::DeleteFileW(path.c_str()); // a missing file is what we want
}

} // namespace

// ---- DownloadProgress ----

DownloadProgress::DownloadProgress(std::wstring target) : m_Target(std::move(target)) {}

DownloadProgress::DownloadProgress(std::wstring target, std::uint32_t threadsUsed, std::uint32_t downloadSize)
    : DownloadSize(downloadSize), ThreadsUsed(threadsUsed), m_Target(std::move(target))
{
}

std::wstring DownloadProgress::FileName(const std::wstring& target)
{
    return target + L".downloadstate";
}

void DownloadProgress::Encode(unsigned char (&bytes)[kFileSize]) const
{
    PutUint32(bytes + 0, Version);
    PutUint32(bytes + 4, DownloadSize);
    PutUint32(bytes + 8, ThreadsUsed);
    PutUint32(bytes + 12, Checksum);
}

void DownloadProgress::Decode(const unsigned char (&bytes)[kFileSize])
{
    Version = GetUint32(bytes + 0);
    DownloadSize = GetUint32(bytes + 4);
    ThreadsUsed = GetUint32(bytes + 8);
    Checksum = GetUint32(bytes + 12);
}

bool DownloadProgress::Read()
{
    unsigned char bytes[kFileSize] = {};
    if (!ReadRecordFile(FileName(m_Target), bytes, kFileSize, nullptr))
        return false;
    Decode(bytes);
    return Checksum == Crc32(bytes, kFileSize - 4);
}

void DownloadProgress::Write()
{
    unsigned char bytes[kFileSize] = {};
    Encode(bytes);
    Checksum = Crc32(bytes, kFileSize - 4);
    PutUint32(bytes + kFileSize - 4, Checksum);
    const Win32::CHandleHolder file = OpenRecordFileForWriting(FileName(m_Target), 0, nullptr);
    OV_THROW_LAST_ERROR_IF(!file.IsValid(), Describe(L"File open failed"));
    OV_THROW_LAST_ERROR_IF(!WriteRecordAt(file.Get(), bytes, kFileSize, true),
                           Describe(L"Write download progress failed"));
}

void DownloadProgress::Delete(const std::wstring& target)
{
    DeleteIfPresent(FileName(target));
}

std::wstring DownloadProgress::Describe(const std::wstring& prefix) const
{
    return prefix + L";  " + m_Target + L"; Version=" + std::to_wstring(Version) + L"; ThreadsUsed=" +
           std::to_wstring(ThreadsUsed);
}

// ---- StreamProgress ----

StreamProgress::StreamProgress(std::wstring target, std::uint32_t streamIndex)
    : StreamIndex(streamIndex), m_Target(std::move(target))
{
}

StreamProgress::StreamProgress(std::wstring target, std::uint32_t streamIndex, std::uint32_t offset,
                               std::uint32_t downloadSize, const std::string& lastModified,
                               std::uint32_t threadsUsed)
    : StreamIndex(streamIndex), Offset(offset), DownloadSize(downloadSize), ThreadsUsed(threadsUsed),
      m_Target(std::move(target))
{
    SetLastModified(lastModified);
}

std::wstring StreamProgress::FileName(const std::wstring& target, std::uint32_t streamIndex)
{
    return target + L"." + std::to_wstring(streamIndex);
}

std::string StreamProgress::GetLastModified() const
{
    return std::string(LastModified, ::strnlen(LastModified, kLastModifiedSize - 1));
}

void StreamProgress::SetLastModified(const std::string& text)
{
    std::memset(LastModified, 0, sizeof(LastModified));
    std::memcpy(LastModified, text.data(), std::min(text.size(), kLastModifiedSize - 1));
}

void StreamProgress::Encode(unsigned char (&bytes)[kFileSize]) const
{
    PutUint32(bytes + 0, Version);
    PutUint32(bytes + 4, StreamIndex);
    PutUint32(bytes + 8, Offset);
    PutUint32(bytes + 12, DownloadSize);
    PutUint32(bytes + 16, ThreadsUsed);
    std::memcpy(bytes + 20, LastModified, kLastModifiedSize);
    bytes[70] = static_cast<unsigned char>(Padding);
    bytes[71] = static_cast<unsigned char>(Padding >> 8);
    PutUint32(bytes + 72, Checksum);
}

void StreamProgress::Decode(const unsigned char (&bytes)[kFileSize])
{
    Version = GetUint32(bytes + 0);
    StreamIndex = GetUint32(bytes + 4);
    Offset = GetUint32(bytes + 8);
    DownloadSize = GetUint32(bytes + 12);
    ThreadsUsed = GetUint32(bytes + 16);
    std::memcpy(LastModified, bytes + 20, kLastModifiedSize);
    Padding = static_cast<std::uint16_t>(bytes[70] | (bytes[71] << 8));
    Checksum = GetUint32(bytes + 72);
}

bool StreamProgress::Read(Win32::CThread& stopOwner)
{
    return ReadFrom(&stopOwner);
}

bool StreamProgress::Read()
{
    return ReadFrom(nullptr);
}

bool StreamProgress::ReadFrom(Win32::CThread* stopOwner)
{
    unsigned char bytes[kFileSize] = {};
    if (!ReadRecordFile(FileName(m_Target, StreamIndex), bytes, kFileSize, stopOwner))
        return false;
    Decode(bytes);
    return Checksum == Crc32(bytes, kFileSize - 4);
}

void StreamProgress::Write(Win32::CThread& stopOwner)
{
    CStreamProgressFile file(*this, stopOwner);
    file.Write(*this);
}

void StreamProgress::WriteTo(HANDLE file, bool setEnd)
{
    unsigned char bytes[kFileSize] = {};
    Padding = 0;
    Encode(bytes);
    Checksum = Crc32(bytes, kFileSize - 4);
    PutUint32(bytes + kFileSize - 4, Checksum);
    if (!WriteRecordAt(file, bytes, kFileSize, setEnd))
        OV_THROW_AT(kStreamWriteFailure, Describe(L"Write stream progress failed"));
}

// ---- CStreamProgressFile ----

CStreamProgressFile::CStreamProgressFile(const StreamProgress& record, Win32::CThread& stopOwner)
    // Others may read the record while it is held (the download thread's own exclusive open still fails
    // and is retried), so that the progress on disk can be watched.
    : m_File(OpenRecordFileForWriting(StreamProgress::FileName(record.m_Target, record.StreamIndex),
                                      FILE_SHARE_READ, &stopOwner))
{
    if (!m_File.IsValid())
        OV_THROW_AT(kStreamOpenFailure, record.Describe(L"File open failed"));
}

void CStreamProgressFile::Write(StreamProgress& record)
{
    // The first write also cuts off whatever a longer file held after the record.
    record.WriteTo(m_File.Get(), !m_Written);
    m_Written = true;
}

void StreamProgress::Delete(const std::wstring& target, std::uint32_t streamIndex)
{
    DeleteIfPresent(FileName(target, streamIndex));
}

std::wstring StreamProgress::Describe(const std::wstring& prefix) const
{
    return prefix + L";  " + m_Target + L"; Version=" + std::to_wstring(Version) + L"; StreamIndex=" +
           std::to_wstring(StreamIndex) + L"; Offset=" + std::to_wstring(Offset) + L"; DownloadSize=" +
           std::to_wstring(DownloadSize) + L"; ThreadsUsed=" + std::to_wstring(ThreadsUsed) +
           L"; LastModified=" + AnsiToWide(GetLastModified());
}

// ---- DownloadOrigin ----

DownloadOrigin::DownloadOrigin(std::wstring target) : m_Target(std::move(target)) {}

DownloadOrigin::DownloadOrigin(std::wstring target, std::string identity, std::string entityTag)
    : Identity(std::move(identity)), EntityTag(std::move(entityTag)), m_Target(std::move(target))
{
}

std::wstring DownloadOrigin::FileName(const std::wstring& target)
{
    return target + L".origin";
}

bool DownloadOrigin::Read()
{
    constexpr std::size_t kHeader = 12;
    constexpr std::size_t kLargest = kHeader + kMaxIdentity + kMaxEntityTag + 4;
    const std::wstring path = FileName(m_Target);
    if (!System::FileExists(path))
        return false;
    const Win32::CHandleHolder file = OpenWithRetries(path, GENERIC_READ, 0, OPEN_EXISTING, nullptr);
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 16 ||
        static_cast<std::uint64_t>(size.QuadPart) > kLargest)
        return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
        return false;
    const std::uint32_t identityLength = GetUint32(bytes.data() + 4);
    const std::uint32_t tagLength = GetUint32(bytes.data() + 8);
    // The lengths are checked one by one first, so that their sum cannot wrap.
    if (GetUint32(bytes.data()) != kVersion || identityLength > kMaxIdentity || tagLength > kMaxEntityTag ||
        kHeader + identityLength + tagLength + 4 != bytes.size() ||
        GetUint32(bytes.data() + bytes.size() - 4) != Crc32(bytes.data(), bytes.size() - 4))
        return false;
    const char* text = reinterpret_cast<const char*>(bytes.data() + kHeader);
    Identity.assign(text, identityLength);
    EntityTag.assign(text + identityLength, tagLength);
    return true;
}

void DownloadOrigin::Write()
{
    // Longer texts than a reader accepts are not written at all: the download then simply cannot resume.
    OV_THROW_IF(Identity.size() > kMaxIdentity || EntityTag.size() > kMaxEntityTag,
                L"Download origin too long;  " + m_Target);
    std::vector<unsigned char> bytes(12);
    PutUint32(bytes.data(), kVersion);
    PutUint32(bytes.data() + 4, static_cast<std::uint32_t>(Identity.size()));
    PutUint32(bytes.data() + 8, static_cast<std::uint32_t>(EntityTag.size()));
    PutText(bytes, Identity);
    PutText(bytes, EntityTag);
    bytes.resize(bytes.size() + 4);
    PutUint32(bytes.data() + bytes.size() - 4, Crc32(bytes.data(), bytes.size() - 4));
    const Win32::CHandleHolder file = OpenRecordFileForWriting(FileName(m_Target), 0, nullptr);
    OV_THROW_LAST_ERROR_IF(!file.IsValid(), L"File open failed;  " + FileName(m_Target));
    OV_THROW_LAST_ERROR_IF(!WriteRecordAt(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), true),
                           L"Write download origin failed;  " + FileName(m_Target));
}

} // namespace OV::System::Net::MultiStreamDownload
