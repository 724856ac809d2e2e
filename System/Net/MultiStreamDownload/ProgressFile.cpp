#include "System/Net/MultiStreamDownload/ProgressFile.h"

#include "System/Exception.h"
#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Net/MultiStreamDownload/OpenWithRetries.h"
#include "System/Platform.h"
#include "System/SystemInfo.h"
#include "System/String/AnsiWide.h"

#include <cstring>
#include <utility>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\ProgressFile.cpp";

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

enum class WriteResult
{
    Written,
    OpenFailed,
    WriteFailed,
};

// Replaces the file's content with the record. The record is written over the old one in place (one
// WriteFile at offset 0, then the end of file is set) rather than by truncating first, so that a process
// killed at any moment leaves either the old record or the new one, never an empty file that would throw
// away a stream's progress. On failure the last error names the cause.
WriteResult WriteRecordFile(const std::wstring& path, const unsigned char* bytes, DWORD size,
                            Win32::CThread* stopOwner)
{
    const Win32::CHandleHolder file = OpenWithRetries(path, GENERIC_WRITE, 0, OPEN_ALWAYS, stopOwner);
    if (!file.IsValid())
        return WriteResult::OpenFailed;
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes, size, &written, nullptr))
        return WriteResult::WriteFailed;
    if (written != size)
    {
        ::SetLastError(ERROR_WRITE_FAULT);
        return WriteResult::WriteFailed;
    }
    if (!::SetEndOfFile(file.Get()))
        return WriteResult::WriteFailed;
    return WriteResult::Written;
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
    const WriteResult result = WriteRecordFile(FileName(m_Target), bytes, kFileSize, nullptr);
    if (result == WriteResult::Written)
        return;
    const DWORD error = ::GetLastError();
    const std::wstring message =
        Describe(result == WriteResult::OpenFailed ? L"File open failed" : L"Write download progress failed");
    ::SetLastError(error);
    throw CException(kSource, __LINE__, "OV::System::Net::MultiStreamDownload::DownloadProgress::Write",
                     message);
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
    unsigned char bytes[kFileSize] = {};
    if (!ReadRecordFile(FileName(m_Target, StreamIndex), bytes, kFileSize, &stopOwner))
        return false;
    Decode(bytes);
    return Checksum == Crc32(bytes, kFileSize - 4);
}

void StreamProgress::Write(Win32::CThread& stopOwner)
{
    unsigned char bytes[kFileSize] = {};
    Padding = 0;
    Encode(bytes);
    Checksum = Crc32(bytes, kFileSize - 4);
    PutUint32(bytes + kFileSize - 4, Checksum);
    const WriteResult result = WriteRecordFile(FileName(m_Target, StreamIndex), bytes, kFileSize, &stopOwner);
    if (result == WriteResult::Written)
        return;
    const DWORD error = ::GetLastError();
    const std::wstring message =
        Describe(result == WriteResult::OpenFailed ? L"File open failed" : L"Write stream progress failed");
    ::SetLastError(error);
    throw CException(kSource, __LINE__, "OV::System::Net::MultiStreamDownload::StreamProgress::Write",
                     message);
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

} // namespace OV::System::Net::MultiStreamDownload
