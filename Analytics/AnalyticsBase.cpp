#include "Analytics/AnalyticsBase.h"

#include "Analytics/NamedMutexHold.h"
#include "Analytics/QueueFile.h"
#include "System/ErrorText.h"
#include "System/Exception.h"
#include "System/Io/Directory.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"

namespace OV::Analytics
{

namespace
{

constexpr char kSource[] = "Ov\\Analytics\\AnalyticsBase.cpp";
constexpr char kConstructor[] = "OV::Analytics::CAnalyticsBase::CAnalyticsBase";
constexpr wchar_t kMutexSuffix[] = L"_OVAnalytics{98CA00B7-D428-47a8-8EBE-66ADA4179BB9}";

std::wstring AnalyticsFolder()
{
    return System::IO::CFilePath::Combine(System::GetRoamingAppDataFolder(nullptr), L"Orvane\\Analytics");
}

} // namespace

std::wstring CAnalyticsBase::GetQueuePathFor(const std::wstring& dataFileName)
{
    return System::IO::CFilePath::Combine(AnalyticsFolder(), dataFileName);
}

std::wstring CAnalyticsBase::GetQueueMutexName(const std::wstring& dataFileName)
{
    return dataFileName + kMutexSuffix;
}

std::wstring CAnalyticsBase::GetUploadMutexName(const std::wstring& dataFileName)
{
    return GetQueueMutexName(dataFileName) + L"_uld";
}

std::wstring CAnalyticsBase::BuildUserAgent()
{
    std::wstring agent = L"Mozilla/5.0 (";
    const std::wstring version = System::GetOsVersionShort();
    if (!version.empty())
        agent += L"Windows NT " + version + L"; ";
    if (System::IsWow64())
        agent += L"WOW64";
    agent += L") AppleWebKit/537.36 (KHTML, like Gecko) Chrome/91.0.4472.114 Safari/537.36";
    return agent;
}

CAnalyticsBase::CAnalyticsBase(const std::wstring& dataFileName) : m_UserAgent(BuildUserAgent())
{
    m_StopEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_StopEvent)
    {
        const DWORD error = ::GetLastError();
        throw System::CException(kSource, __LINE__, kConstructor,
                                 "Failed to create stop event: " + System::GetErrorText(error));
    }

    const std::wstring queueMutexName = GetQueueMutexName(dataFileName);
    m_QueueMutex.Reset(::CreateMutexW(nullptr, FALSE, queueMutexName.c_str()));
    if (!m_QueueMutex)
        throw System::CException(kSource, 183, kConstructor,
                                 L"Failed to create mutex. Name: " + queueMutexName);

    const std::wstring uploadMutexName = GetUploadMutexName(dataFileName);
    m_UploadMutex.Reset(::CreateMutexW(nullptr, FALSE, uploadMutexName.c_str()));
    if (!m_UploadMutex)
        throw System::CException(kSource, 190, kConstructor,
                                 L"Failed to create upload mutex: " + uploadMutexName);

    m_QueuePath = GetQueuePathFor(dataFileName);
    System::IO::CDirectory::CreateParentDirectory(m_QueuePath);

    // Queues of earlier formats are never read again.
    ::DeleteFileW(GetQueuePathFor(L"OVAnalytics.dat").c_str());
    ::DeleteFileW(GetQueuePathFor(L"OVAnalyticsForGA.dat").c_str());
}

CAnalyticsBase::~CAnalyticsBase()
{
    StopUpload();
}

std::vector<std::uint8_t> CAnalyticsBase::ComposeItem(const std::string& query,
                                                      const std::string& extra) const
{
    if (query.size() > kMaxQueryLength)
        throw System::CException(kSource, 447, "OV::Analytics::CAnalyticsBase::ComposeItem",
                                 "QueryString too long");
    return ComposeQueueRecord(query, extra, m_Key);
}

bool CAnalyticsBase::AddItem(const std::string& query, const std::string& extra)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), m_StopEvent.Get());
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

bool CAnalyticsBase::ReadNextItem(std::uint32_t& count, std::uint32_t& endOffset, std::string& query,
                                  std::string& extra)
{
    count = 0;
    endOffset = 0;
    query.clear();
    extra.clear();
    CNamedMutexHold hold(m_QueueMutex.Get(), m_StopEvent.Get());
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

bool CAnalyticsBase::RemoveItems(std::uint32_t endOffset, std::uint32_t count)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), m_StopEvent.Get());
    return hold.IsHeld() && RemoveItemsHolding(endOffset, count);
}

bool CAnalyticsBase::RemoveSentItems(std::uint32_t endOffset, std::uint32_t count)
{
    CNamedMutexHold hold(m_QueueMutex.Get(), nullptr);
    return hold.IsHeld() && RemoveItemsHolding(endOffset, count);
}

bool CAnalyticsBase::RemoveItemsHolding(std::uint32_t endOffset, std::uint32_t count)
{
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

std::uint64_t CAnalyticsBase::GetPendingBytes()
{
    CNamedMutexHold hold(m_QueueMutex.Get(), m_StopEvent.Get());
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
