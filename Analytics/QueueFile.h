#pragma once

#include "System/Object.h"
#include "System/Win32/HandleHolder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OV::Analytics
{

// Layout of the analytics queue file: a 20-byte header, then records one after the other; all integers
// little-endian, no alignment.
//   header: version (1), pending records, first pending offset, reserved (0), CRC-32 of bytes 0 to 15
//   record: record size, header size (23), payload check (CRC-32 of the payload as stored), reserved (0),
//           key (1 byte, XORed into every payload byte), query length (2 bytes), extra length, payload
constexpr std::uint32_t kQueueVersion = 1;
constexpr std::uint32_t kQueueHeaderSize = 20;
constexpr std::uint32_t kRecordHeaderSize = 23;
constexpr std::uint32_t kMaxRecordSize = 1000000;

struct QueueHeader
{
    std::uint32_t version = kQueueVersion;
    std::uint32_t pendingRecords = 0;
    std::uint32_t firstPendingOffset = kQueueHeaderSize;
    std::uint32_t reserved = 0;
};

struct QueueItem
{
    std::string query;
    std::string extra;
    std::uint32_t recordSize = 0;
};

// The bytes of one record. The caller keeps the query below 65535 bytes.
std::vector<std::uint8_t> ComposeQueueRecord(const std::string& query, const std::string& extra,
                                             std::uint8_t key);

// The queue file, open for one operation. The caller holds the queue mutex for the object's lifetime.
// Opening replaces a header that is missing or damaged (short, wrong version, wrong check, or a first
// pending offset outside the file) by a fresh one and cuts the file after it, which drops every record.
class CQueueFile : public System::CNonCopyable
{
public:
    enum class ReadStatus
    {
        Item,   // a whole, intact record
        End,    // the end of the file
        Damaged // a short, oversized or inconsistent record, or a payload that fails its check
    };

    explicit CQueueFile(const std::wstring& path);

    bool IsOpen() const { return m_File.IsValid(); }
    // True when opening found a damaged header and reset the file.
    bool WasRepaired() const { return m_Repaired; }

    QueueHeader& Header() { return m_Header; }
    // Writes the header with a fresh check at offset 0.
    bool WriteHeader();
    // An empty queue: a fresh header, the file cut after it.
    bool Reset();
    // The file size in bytes; -1 when unknown.
    std::int64_t GetSize() const;

    // Reads the record at the offset.
    ReadStatus ReadItem(std::uint32_t offset, QueueItem& item);
    // Writes the record at the end of the file; true when every byte was written.
    bool Append(const std::vector<std::uint8_t>& record);
    // Moves the bytes from the offset to the end of the file directly behind the header and cuts the file
    // there; the header then names offset 20 as the first pending one.
    bool MoveToFront(std::uint32_t offset);

    static std::uint32_t HeaderCheck(const QueueHeader& header);

private:
    bool ReadHeader();
    bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& read);
    bool WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count);
    bool CutAt(std::uint64_t offset);

    System::Win32::CHandleHolder m_File;
    QueueHeader m_Header;
    bool m_Repaired = false;
};

} // namespace OV::Analytics
