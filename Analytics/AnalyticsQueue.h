#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OV::Analytics
{

// The persistent analytics queue of one data file in "<roaming application data>\Orvane\Analytics\",
// shared by every process of the user: each read or write of the file holds the queue mutex, named after
// the data file. A stop event given to an operation makes its wait for that mutex give up.
class CAnalyticsQueue
{
public:
    static constexpr std::uint64_t kMaxQueueFileSize = 5242880;   // a fuller queue drops new events
    static constexpr std::uint32_t kCompactAfterOffset = 1048576; // sent space is reclaimed past this
    static constexpr std::size_t kMaxQueryLength = 65534;         // what a record can hold

    CAnalyticsQueue(const CAnalyticsQueue&) = delete;
    CAnalyticsQueue& operator=(const CAnalyticsQueue&) = delete;

    // The bytes of one record. Throws CException "QueryString too long" for a query of 65535 bytes or more.
    std::vector<std::uint8_t> ComposeItem(const std::string& query, const std::string& extra) const;
    // Appends one record; false when the event was dropped (queue over 5 MiB, mutex not obtained, file not
    // writable, short write).
    bool AddItem(const std::string& query, const std::string& extra, HANDLE stopEvent = nullptr);
    // The first pending record: count 1 with its text and the offset behind it, or count 0 at the end of the
    // queue. False when the queue could not be read; a damaged record resets the queue.
    bool ReadNextItem(std::uint32_t& count, std::uint32_t& endOffset, std::string& query, std::string& extra,
                      HANDLE stopEvent = nullptr);
    // Marks the records up to endOffset as sent and reclaims their space once it passes 1 MiB.
    bool RemoveItems(std::uint32_t endOffset, std::uint32_t count, HANDLE stopEvent = nullptr);
    // Bytes of records not yet sent; 0 when the queue is unavailable.
    std::uint64_t GetPendingBytes(HANDLE stopEvent = nullptr);

    const std::wstring& GetQueuePath() const { return m_QueuePath; }

    static std::wstring GetQueuePathFor(const std::wstring& dataFileName);
    static std::wstring GetQueueMutexName(const std::wstring& dataFileName);

protected:
    // Throws CException when the queue mutex cannot be created.
    explicit CAnalyticsQueue(const std::wstring& dataFileName);
    ~CAnalyticsQueue() = default;

private:
    std::wstring m_QueuePath;
    System::Win32::CHandleHolder m_QueueMutex;
    std::uint8_t m_Key = 0;
};

} // namespace OV::Analytics
