#include "System/Net/MultiStreamDownload/DownloadThread.h"

#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/CaughtException.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/SystemInfo.h"

#include <algorithm>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\DownloadThread.cpp";
// An attempt's own failures are known as those of the thread body, at the lines they have always carried.
constexpr char kExecute[] = "OV::System::Net::MultiStreamDownload::CDownloadThread::Execute";
constexpr FixedPlace kFileChanged(217, kExecute);
constexpr FixedPlace kLargerThanAnnounced(229, kExecute);
constexpr DWORD kRecentDataMs = 2000;

bool CacheHolds(const std::wstring& target, std::uint32_t offset)
{
    const std::uint64_t size = System::GetFileSize(target + L".cache");
    return size != ~std::uint64_t{0} && size >= offset;
}

} // namespace

CDownloadThread::CDownloadThread(const std::string& userAgent, const std::string& url,
                                 const std::wstring& target, std::uint32_t firstByte, std::uint32_t lastByte,
                                 IDownloadStreamOwner& owner, std::uint32_t downloadSize,
                                 std::uint32_t streamIndex, std::uint32_t streamCount,
                                 std::int32_t retryCount, const DownloadLimits& limits,
                                 std::uint32_t generation)
    : m_Owner(owner), m_UserAgent(userAgent), m_Url(url), m_FirstByte(firstByte), m_LastByte(lastByte),
      m_Target(target), m_StreamIndex(streamIndex), m_StreamCount(streamCount), m_DownloadSize(downloadSize),
      m_SizeKnown(downloadSize != 0), m_SingleStream(streamCount == 1), m_RetryCount(retryCount),
      m_Limits(limits), m_Generation(generation)
{
    ThreadStart(nullptr, 0);
}

CDownloadThread::~CDownloadThread()
{
    try
    {
        Stop(INFINITE);
    }
    catch (...)
    {
        // The stop event could not be set; the base destructor tries once more.
    }
}

void CDownloadThread::ForceClose(DWORD timeoutMs)
{
    if (!m_ReadBusy.load())
        return;
    if (::WaitForSingleObject(GetHandle(), timeoutMs) == WAIT_OBJECT_0)
        return;
    Win32::CCriticalSectionLock lock(m_HandleLock);
    if (m_ReadBusy.load() && m_Internet.IsValid() && !m_ForceClosed)
    {
        m_Internet.Reset();
        m_ForceClosed = true;
    }
}

void CDownloadThread::CloseHandles()
{
    Win32::CCriticalSectionLock lock(m_HandleLock);
    // Children before their parent: closing a parent closes its children as well, and a child handle
    // closed a second time could by then name a new handle of another thread. For the same reason the
    // children of a root that ForceClose closed are only forgotten.
    if (m_ForceClosed)
    {
        m_Request.Release();
        m_Connection.Release();
    }
    m_Request.Reset();
    m_Connection.Reset();
    m_Internet.Reset();
    m_ForceClosed = false;
}

std::uint32_t CDownloadThread::Execute()
{
    std::int32_t attempts = m_RetryCount + 1;
    while (attempts >= 1)
    {
        m_NetworkError = false;
        m_ReceivedData = false;
        m_AuthNeeded = false;
        m_ConnectAgain = false;
        m_Stalled = false;
        CRefPtr<CException> failure;
        try
        {
            RunAttempt();
        }
        catch (...)
        {
            failure = WrapCaughtException(OV_HERE, "DownloadThread Execute Function");
        }
        if (!failure)
        {
            if (!m_ConnectAgain || IsStopSignalled())
                break;
            CloseHandles(); // the answer was read to its end: closing costs nothing
            continue;
        }

        const bool recentData = ::GetTickCount64() - GetLastDataTick() < kRecentDataMs;
        if ((m_ReceivedData && !m_Stalled) || (m_TimedOut && recentData))
        {
            m_TimedOut = false;
            attempts = m_RetryCount + 1;
        }
        if (IsStopSignalled())
            break; // a restart was granted, or the download is being stopped
        if (!m_NetworkError || attempts < 2)
            Report(StreamReport::Event::Failed, 0, 0, failure);
        if (!m_NetworkError)
            break;
        if (attempts > 1)
        {
            const std::int32_t pauseSeconds = std::max<std::int32_t>(0, m_RetryCount - attempts + 2);
            if (WaitForStopSignal(static_cast<DWORD>(pauseSeconds) * 1000))
                break;
        }
        CloseHandles();
        --attempts;
    }
    CloseHandles();
    return 0;
}

bool CDownloadThread::ArriveAtEnd()
{
    if (m_ArrivedAtEnd)
        return true;
    m_ArrivedAtEnd = true;
    return m_Owner.WaitForOtherStreams(m_StreamIndex, *this);
}

void CDownloadThread::Report(StreamReport::Event event, std::uint32_t bytesDone,
                             std::uint32_t bytesThisConnection, const CRefPtr<CException>& failure)
{
    StreamReport report;
    report.index = m_StreamIndex;
    report.event = event;
    // Only a failure carries the answer's 401 or 403; any other report clears it.
    report.authRefreshNeeded = event == StreamReport::Event::Failed && m_AuthNeeded;
    report.bytesDone = bytesDone;
    report.bytesThisConnection = bytesThisConnection;
    report.exception = failure;
    m_Owner.DownloadThreadCallback(report, *this);
}

void CDownloadThread::ReportComplete(std::uint32_t offset, std::uint32_t bytesThisConnection)
{
    Report(StreamReport::Event::Complete, offset - m_FirstByte + bytesThisConnection, bytesThisConnection);
}

std::uint64_t CDownloadThread::StreamEnd() const
{
    // One stream runs to the end of the file; its last byte wraps for an empty file.
    return m_SingleStream ? m_DownloadSize : static_cast<std::uint64_t>(m_LastByte) + 1;
}

void CDownloadThread::RunAttempt()
{
    std::uint32_t offset = m_FirstByte;
    bool resumed = false;
    StreamProgress record(m_Target, m_StreamIndex);
    // The cache file must still hold what the record claims: a cache file deleted or cut short since
    // would otherwise leave a hole of zeros in the finished file.
    if (record.Read(*this) && record.Fits(m_StreamIndex, m_StreamCount) && record.Offset >= m_FirstByte &&
        (!m_SizeKnown || record.Offset <= StreamEnd()) &&
        (record.Offset == m_FirstByte || CacheHolds(m_Target, record.Offset)))
    {
        offset = record.Offset;
        resumed = true;
        if (m_SizeKnown && offset == StreamEnd() && !IsStopSignalled())
        {
            if (ArriveAtEnd())
                ReportComplete(offset, 0);
            return;
        }
    }

    ServerAnswer answer;
    {
        Win32::CCriticalSectionLock lock(m_HandleLock);
        EstablishConnection(offset, answer);
    }
    if (IsStopSignalled())
        return;

    TakeServerSize(answer, resumed);
    if (IsStopSignalled())
        return;

    const std::string stored = record.GetLastModified();
    const bool sizeChanged = resumed && record.DownloadSize != 0 && answer.sizeGiven && answer.size != 0 &&
                             record.DownloadSize != answer.size;
    const bool dateChanged =
        resumed && stored != m_LastModified && stored != "UNKNOWN" && m_LastModified != "UNKNOWN";
    // Every answer, resumed or not: two streams of one download must read the same file.
    const bool tagChanged = !m_EntityTag.empty() && !m_Owner.MatchEntityTag(m_EntityTag, m_Generation);
    if (sizeChanged || dateChanged || tagChanged)
    {
        const std::string message = std::string("Detected file change(s) in: ") +
                                    (sizeChanged ? "size " : "") + " " +
                                    (dateChanged ? "modified date" : "") + (tagChanged ? " entity tag" : "");
        RequestSingleStreamRestart(message);
        // Refused: the bytes on disk belong to another file, and going on would mix the two.
        OV_THROW_AT(kFileChanged, message);
    }
    if (IsStopSignalled())
        return;

    DownloadBits(offset);
}

void CDownloadThread::TakeServerSize(const ServerAnswer& answer, bool resumed)
{
    if (answer.sizeGiven && answer.size > m_Limits.maxSize) // not a network failure: no retry can change it
        OV_THROW_AT(kLargerThanAnnounced, "The server's file of " + std::to_string(answer.size) +
                                              " bytes is larger than the announced size of " +
                                              std::to_string(m_Limits.maxSize) + " bytes");
    if (answer.sizeGiven)
    {
        if (!m_SizeKnown)
        {
            m_SizeKnown = true;
            m_DownloadSize = answer.size;
            // A large file takes a second stream; this one keeps its answer and its bytes.
            const std::uint32_t split = answer.boundedFirst && answer.size > kFirstRequestLength
                                            ? m_Owner.SwitchToTwoStreams(answer.size, m_Generation)
                                            : 0;
            if (split != 0)
            {
                m_StreamCount = kMaxStreams;
                m_SingleStream = false;
                m_LastByte = split - 1;
            }
            else
            {
                m_Owner.SetDownloadSize(answer.size);
            }
        }
        else if (m_SingleStream && !resumed && answer.size != m_DownloadSize)
        {
            // A fresh single stream reads the whole file from its start: the server's size is the truth,
            // whatever an earlier plan believed.
            m_DownloadSize = answer.size;
            m_Owner.SetDownloadSize(answer.size);
        }
    }
}

void CDownloadThread::RequestSingleStreamRestart(const std::string& message)
{
    m_Owner.RequestRestart(RestartRequest::SingleStream, *this, message, m_Generation);
}

void CDownloadThread::RequestMultiStreamRestart(const std::string& message)
{
    m_Owner.RequestRestart(RestartRequest::MultiStream, *this, message, m_Generation);
}

} // namespace OV::System::Net::MultiStreamDownload
