#include "Analytics/AnalyticsQueue.h"

#include "Analytics/NamedMutexHold.h"
#include "Analytics/QueueFile.h"
#include "System/ErrorBoundary.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"

namespace OV::Analytics
{

namespace
{

// The queue began as part of CAnalyticsBase; its exceptions keep the places that the error texts carry.
constexpr char kSource[] = "Ov\\Analytics\\AnalyticsBase.cpp";
constexpr System::FixedPlace kQueueMutexFailure(183, "OV::Analytics::CAnalyticsBase::CAnalyticsBase");
constexpr System::FixedPlace kQueryTooLong(447, "OV::Analytics::CAnalyticsBase::ComposeItem");
constexpr wchar_t kMutexSuffix[] = L"_OVAnalytics{98CA00B7-D428-47a8-8EBE-66ADA4179BB9}";

} // namespace

std::wstring CAnalyticsQueue::GetQueuePathFor(const std::wstring& dataFileName)
{
    const std::wstring folder =
        System::IO::CFilePath::Combine(System::GetRoamingAppDataFolder(nullptr), L"Orvane\\Analytics");
    return System::IO::CFilePath::Combine(folder, dataFileName);
}

std::wstring CAnalyticsQueue::GetQueueMutexName(const std::wstring& dataFileName)
{
    return dataFileName + kMutexSuffix;
}

CAnalyticsQueue::CAnalyticsQueue(const std::wstring& dataFileName)
{
    const std::wstring queueMutexName = GetQueueMutexName(dataFileName);
    m_QueueMutex.Reset(::CreateMutexW(nullptr, FALSE, queueMutexName.c_str()));
    if (!m_QueueMutex)
        OV_THROW_AT(kQueueMutexFailure, L"Failed to create mutex. Name: " + queueMutexName);
    m_QueuePath = GetQueuePathFor(dataFileName);
}

std::vector<std::uint8_t> CAnalyticsQueue::ComposeItem(const std::string& query,
                                                       const std::string& extra) const
{
    if (query.size() > kMaxQueryLength)
        OV_THROW_AT(kQueryTooLong, "QueryString too long");
    return ComposeQueueRecord(query, extra, m_Key);
}

bool CAnalyticsQueue::AddItem(const std::string& query, const std::string& extra, HANDLE stopEvent)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), stopEvent);
    if (!hold.IsHeld())
        return false;
    CQueueFile file(m_QueuePath);
    if (!file.IsOpen())
        return false;
    const std::int64_t size = file.GetSize();
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxQueueFileSize)
        return false;
    if (!file.Append(ComposeItem(query, extra)))
        return false;
    ++file.Header().pendingRecords;
    return file.WriteHeader();
}

bool CAnalyticsQueue::ReadNextItem(std::uint32_t& count, std::uint32_t& endOffset, std::string& query,
                                   std::string& extra, HANDLE stopEvent)
{
    count = 0;
    endOffset = 0;
    query.clear();
    extra.clear();
    CNamedMutexHold hold(m_QueueMutex.Get(), stopEvent);
    if (!hold.IsHeld())
        return false;
    CQueueFile file(m_QueuePath);
    if (!file.IsOpen())
        return false;

    const std::uint32_t offset = file.Header().firstPendingOffset;
    QueueItem item;
    switch (file.ReadItem(offset, item))
    {
    case CQueueFile::ReadStatus::End:
        return true;
    case CQueueFile::ReadStatus::Damaged:
        file.Reset();
        return false;
    case CQueueFile::ReadStatus::Item:
        break;
    }
    query = std::move(item.query);
    extra = std::move(item.extra);
    count = 1;
    endOffset = offset + item.recordSize;
    return true;
}

bool CAnalyticsQueue::RemoveItems(std::uint32_t endOffset, std::uint32_t count, HANDLE stopEvent)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), stopEvent);
    if (!hold.IsHeld())
        return false;
    CQueueFile file(m_QueuePath);
    if (!file.IsOpen())
        return false;

    QueueHeader& header = file.Header();
    // A writer killed between its record and its header leaves the count short; never let it wrap.
    header.pendingRecords = header.pendingRecords > count ? header.pendingRecords - count : 0;
    if (endOffset <= kCompactAfterOffset)
    {
        header.firstPendingOffset = endOffset;
        file.WriteHeader();
    }
    else
    {
        file.MoveToFront(endOffset);
    }
    return true;
}

std::uint64_t CAnalyticsQueue::GetPendingBytes(HANDLE stopEvent)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), stopEvent);
    if (!hold.IsHeld())
        return 0;
    CQueueFile file(m_QueuePath);
    if (!file.IsOpen())
        return 0;
    const std::int64_t size = file.GetSize();
    const std::int64_t first = file.Header().firstPendingOffset;
    return size > first ? static_cast<std::uint64_t>(size - first) : 0;
}

} // namespace OV::Analytics
