#include "Analytics/QueueFile.h"

#include "System/Net/MultiStreamDownload/Crc32.h"

#include <array>
#include <cstring>

namespace OV::Analytics
{

namespace
{

using System::Net::MultiStreamDownload::Crc32;

void PutUint32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutUint16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t GetUint32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::uint16_t GetUint16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

// Offsets of the record fields.
constexpr std::size_t kSizeAt = 0;
constexpr std::size_t kHeaderSizeAt = 4;
constexpr std::size_t kCheckAt = 8;
constexpr std::size_t kReservedAt = 12;
constexpr std::size_t kKeyAt = 16;
constexpr std::size_t kQueryLengthAt = 17;
constexpr std::size_t kExtraLengthAt = 19;

std::array<std::uint8_t, kQueueHeaderSize> EncodeHeader(const QueueHeader& header)
{
    std::array<std::uint8_t, kQueueHeaderSize> bytes{};
    PutUint32(&bytes[0], header.version);
    PutUint32(&bytes[4], header.pendingRecords);
    PutUint32(&bytes[8], header.firstPendingOffset);
    PutUint32(&bytes[12], header.reserved);
    PutUint32(&bytes[16], Crc32(bytes.data(), 16));
    return bytes;
}

} // namespace

std::vector<std::uint8_t> ComposeQueueRecord(const std::string& query, const std::string& extra,
                                             std::uint8_t key)
{
    const std::size_t payloadSize = query.size() + extra.size();
    std::vector<std::uint8_t> record(kRecordHeaderSize + payloadSize);
    PutUint32(&record[kSizeAt], static_cast<std::uint32_t>(record.size()));
    PutUint32(&record[kHeaderSizeAt], kRecordHeaderSize);
    PutUint32(&record[kReservedAt], 0);
    record[kKeyAt] = key;
    PutUint16(&record[kQueryLengthAt], static_cast<std::uint16_t>(query.size()));
    PutUint32(&record[kExtraLengthAt], static_cast<std::uint32_t>(extra.size()));
    std::uint8_t* payload = record.data() + kRecordHeaderSize;
    std::memcpy(payload, query.data(), query.size());
    std::memcpy(payload + query.size(), extra.data(), extra.size());
    for (std::size_t i = 0; i < payloadSize; ++i)
        payload[i] ^= key;
    PutUint32(&record[kCheckAt], Crc32(payload, payloadSize));
    return record;
}

std::uint32_t CQueueFile::HeaderCheck(const QueueHeader& header)
{
    return GetUint32(&EncodeHeader(header)[16]);
}

CQueueFile::CQueueFile(const std::wstring& path)
    : m_File(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
{
    if (!IsOpen())
        return;
    if (!ReadHeader())
    {
        m_Repaired = true;
        Reset();
    }
}

bool CQueueFile::ReadHeader()
{
    std::array<std::uint8_t, kQueueHeaderSize> bytes{};
    std::uint32_t read = 0;
    if (!ReadAt(0, bytes.data(), kQueueHeaderSize, read) || read != kQueueHeaderSize)
        return false;
    QueueHeader header;
    header.version = GetUint32(&bytes[0]);
    header.pendingRecords = GetUint32(&bytes[4]);
    header.firstPendingOffset = GetUint32(&bytes[8]);
    header.reserved = GetUint32(&bytes[12]);
    if (header.version != kQueueVersion || GetUint32(&bytes[16]) != Crc32(bytes.data(), 16))
        return false;
    // Records are read from the first pending offset and appended at the end, so an offset outside the
    // file would hide every record appended from now on.
    const std::int64_t size = GetSize();
    if (header.firstPendingOffset < kQueueHeaderSize || size < 0 ||
        static_cast<std::int64_t>(header.firstPendingOffset) > size)
        return false;
    m_Header = header;
    return true;
}

bool CQueueFile::WriteHeader()
{
    const auto bytes = EncodeHeader(m_Header);
    return WriteAt(0, bytes.data(), kQueueHeaderSize);
}

bool CQueueFile::Reset()
{
    m_Header = QueueHeader();
    return WriteHeader() && CutAt(kQueueHeaderSize);
}

std::int64_t CQueueFile::GetSize() const
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_File.Get(), &size))
        return -1;
    return size.QuadPart;
}

CQueueFile::ReadStatus CQueueFile::ReadItem(std::uint32_t offset, QueueItem& item)
{
    item = QueueItem();
    std::uint8_t sizeBytes[4] = {};
    std::uint32_t read = 0;
    if (!ReadAt(offset, sizeBytes, sizeof(sizeBytes), read))
        return ReadStatus::Damaged;
    if (read == 0)
        return ReadStatus::End;
    if (read != sizeof(sizeBytes))
        return ReadStatus::Damaged;

    const std::uint32_t recordSize = GetUint32(sizeBytes);
    if (recordSize < kRecordHeaderSize || recordSize > kMaxRecordSize)
        return ReadStatus::Damaged;
    std::vector<std::uint8_t> record(recordSize);
    std::memcpy(record.data(), sizeBytes, sizeof(sizeBytes));
    if (!ReadAt(static_cast<std::uint64_t>(offset) + 4, record.data() + 4, recordSize - 4, read) ||
        read != recordSize - 4)
        return ReadStatus::Damaged;

    const std::uint32_t payloadSize = recordSize - kRecordHeaderSize;
    const std::uint32_t queryLength = GetUint16(&record[kQueryLengthAt]);
    const std::uint32_t extraLength = GetUint32(&record[kExtraLengthAt]);
    if (GetUint32(&record[kHeaderSizeAt]) != kRecordHeaderSize || queryLength > payloadSize ||
        extraLength != payloadSize - queryLength)
        return ReadStatus::Damaged;

    std::uint8_t* payload = record.data() + kRecordHeaderSize;
    if (Crc32(payload, payloadSize) != GetUint32(&record[kCheckAt]))
        return ReadStatus::Damaged;
    const std::uint8_t key = record[kKeyAt];
    for (std::uint32_t i = 0; i < payloadSize; ++i)
        payload[i] ^= key;

    item.query.assign(reinterpret_cast<const char*>(payload), queryLength);
    item.extra.assign(reinterpret_cast<const char*>(payload) + queryLength, extraLength);
    item.recordSize = recordSize;
    return ReadStatus::Item;
}

bool CQueueFile::Append(const std::vector<std::uint8_t>& record)
{
    const std::int64_t size = GetSize();
    return size >= 0 && WriteAt(static_cast<std::uint64_t>(size), record.data(),
                                static_cast<std::uint32_t>(record.size()));
}

bool CQueueFile::MoveToFront(std::uint32_t offset)
{
    const std::int64_t size = GetSize();
    if (size <= static_cast<std::int64_t>(offset))
        return Reset();
    const auto tailSize = static_cast<std::uint32_t>(size - offset);
    std::vector<std::uint8_t> tail(tailSize);
    std::uint32_t read = 0;
    if (!ReadAt(offset, tail.data(), tailSize, read) || read != tailSize)
        return Reset();
    m_Header.firstPendingOffset = kQueueHeaderSize;
    return WriteHeader() && WriteAt(kQueueHeaderSize, tail.data(), tailSize) &&
           CutAt(static_cast<std::uint64_t>(kQueueHeaderSize) + tailSize);
}

bool CQueueFile::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    LARGE_INTEGER position = {};
    position.QuadPart = static_cast<LONGLONG>(offset);
    LARGE_INTEGER reached = {};
    if (!::SetFilePointerEx(m_File.Get(), position, &reached, FILE_BEGIN) ||
        reached.QuadPart != position.QuadPart)
        return false;
    // One record is at most 1 000 000 bytes and the queue at most a few MiB: one call reads it whole.
    DWORD got = 0;
    if (!::ReadFile(m_File.Get(), buffer, count, &got, nullptr))
        return false;
    read = got;
    return true;
}

bool CQueueFile::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count)
{
    LARGE_INTEGER position = {};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(m_File.Get(), position, nullptr, FILE_BEGIN))
        return false;
    DWORD written = 0;
    return ::WriteFile(m_File.Get(), buffer, count, &written, nullptr) && written == count;
}

bool CQueueFile::CutAt(std::uint64_t offset)
{
    LARGE_INTEGER position = {};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(m_File.Get(), position, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_File.Get());
}

} // namespace OV::Analytics
