#include "System/Net/MultiStreamDownload/HTTPDownload.h"

#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/CaughtException.h"
#include "System/Net/MultiStreamDownload/DownloadThread.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Net/MultiStreamDownload/WatchdogThread.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"

#include <algorithm>
#include <optional>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\HTTPDownload.cpp";
constexpr char kWatchdogName[] = "OVDownloadWatchdog";
constexpr DWORD kMeetingPollMs = 50;
constexpr DWORD kForceCloseMs = 1000;

} // namespace

CHTTPDownload::CHTTPDownload(const std::wstring& userAgent, const std::wstring& url,
                             const std::wstring& targetPath, DownloadCallback callback, void* context,
                             std::int32_t retryCount, const DownloadLimits& limits,
                             const std::string& ownerIdentity)
    : m_RetryCount(retryCount), m_Callback(callback), m_Context(context), m_UserAgent(WideToAnsi(userAgent)),
      m_Url(WideToAnsi(url)), m_Target(targetPath), m_Identity(m_Url + "\n" + ownerIdentity), m_Limits(limits)
{
    if (System::FileExists(m_Target))
    {
        {
            Win32::CCriticalSectionLock lock(m_StateLock);
            m_Finished = true;
            m_BytesDone = m_DownloadSize;
        }
        NotifyProgress();
        return;
    }
    m_Watchdog = MakeRef<CWatchdogThread>(static_cast<IRestartTarget&>(*this));
    m_Watchdog->ThreadStart(kWatchdogName, sizeof(kWatchdogName) - 1);
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        m_StartPending = true;
    }
    try
    {
        StartIfPending();
    }
    catch (...)
    {
        Shutdown();
        throw;
    }
}

CHTTPDownload::~CHTTPDownload()
{
    try
    {
        Shutdown();
        bool aborted = false;
        {
            Win32::CCriticalSectionLock lock(m_StateLock);
            aborted = m_Aborted;
        }
        if (aborted)
            Cleanup(true);
    }
    catch (...)
    {
        // Nothing can be reported from here; the threads were asked to stop in any case.
    }
    m_Watchdog.Reset();
}

void CHTTPDownload::Shutdown()
{
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        m_ShuttingDown = true;
    }
    // The watchdog first: a restart it runs now could otherwise make new streams after ours are gone.
    if (m_Watchdog)
    {
        m_Watchdog->Shutdown();
        m_Watchdog->WaitForExit();
    }
    WaitForAllStreams();
}

DownloadStatus CHTTPDownload::GetStatus()
{
    Win32::CCriticalSectionLock lock(m_StateLock);
    return StatusLocked();
}

DownloadStatus CHTTPDownload::StatusLocked() const
{
    DownloadStatus status;
    status.finished = m_Finished;
    status.failed = m_Failed;
    status.startPending = m_StartPending;
    status.authRefreshNeeded = m_AuthRefreshNeeded;
    status.streamCount = m_StreamCount;
    status.resumed = m_Resumed;
    if (m_Failed)
    {
        status.exception = m_Exception;
        return status;
    }
    status.bytesDone = m_BytesDone;
    status.bytesThisConnection = m_BytesThisConnection;
    status.downloadSize = m_DownloadSize;
    if (m_DownloadSize != 0)
        status.percent = std::min(100.0f, static_cast<float>(static_cast<double>(m_BytesDone) * 100.0 /
                                                             static_cast<double>(m_DownloadSize)));
    return status;
}

void CHTTPDownload::StartIfPending()
{
    Win32::CCriticalSectionLock restartLock(m_RestartLock);
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        if (m_Aborted || m_Finished || !m_StartPending || m_ShuttingDown)
            return;
    }
    StartDownload();
}

void CHTTPDownload::StartDownload()
{
    WaitForAllStreams();
    Win32::CCriticalSectionLock lock(m_StateLock);
    if (m_ShuttingDown || m_Aborted)
        return;

    DownloadProgress saved(m_Target);
    const bool resume = saved.Read() && saved.IsUsable() && SameOriginLocked();
    if (resume)
    {
        m_DownloadSize = saved.DownloadSize;
        m_SizeKnown = m_DownloadSize != 0;
        m_StreamCount = saved.ThreadsUsed;
        m_Resumed = m_Resumed || m_Generation == 0;
    }
    else
    {
        Cleanup(true);
        m_EntityTag.clear();
    }
    // The origin first: state that a kill leaves without its origin is never taken for this download's.
    WriteOriginLocked();
    DownloadProgress(m_Target, m_StreamCount, m_DownloadSize).Write();

    m_StartPending = false;
    m_StreamsAtEnd = 0;
    m_Finalizing = false;
    ++m_Generation;

    for (std::uint32_t i = 0; i < m_StreamCount; ++i)
    {
        const std::uint32_t first = StreamStart(m_DownloadSize, m_StreamCount, i);
        const std::uint32_t end =
            i + 1 == m_StreamCount ? m_DownloadSize : StreamStart(m_DownloadSize, m_StreamCount, i + 1);
        AddStreamLocked(i, first, end - 1); // 0xFFFFFFFF for an unknown size
    }
}

bool CHTTPDownload::SameOriginLocked()
{
    DownloadOrigin origin(m_Target);
    if (!System::FileExists(DownloadOrigin::FileName(m_Target)))
        return true;
    if (!origin.Read() || origin.Identity != m_Identity)
        return false;
    m_EntityTag = origin.EntityTag;
    return true;
}

void CHTTPDownload::WriteOriginLocked()
{
    // An address too long for the record downloads all the same; only a later run cannot resume it.
    if (m_Identity.size() <= DownloadOrigin::kMaxIdentity)
        DownloadOrigin(m_Target, m_Identity, m_EntityTag).Write();
}

bool CHTTPDownload::MatchEntityTag(const std::string& tag, std::uint32_t generation)
{
    Win32::CCriticalSectionLock lock(m_StateLock);
    if (generation != m_Generation || m_Aborted || m_Finished || m_ShuttingDown)
        return true; // a stream on its way out: nothing of its answer is kept
    if (!m_EntityTag.empty())
        return m_EntityTag == tag;
    m_EntityTag = tag;
    WriteOriginLocked();
    return true;
}

std::uint32_t CHTTPDownload::StreamStart(std::uint32_t size, std::uint32_t count, std::uint32_t index)
{
    if (index == 0)
        return 0;
    const std::uint32_t chunk = size / count;
    if (count == 2 && size > kFirstRequestLength)
        return std::max(chunk, kFirstRequestLength);
    return chunk * index;
}

void CHTTPDownload::AddStreamLocked(std::uint32_t index, std::uint32_t first, std::uint32_t last)
{
    CRefPtr<StreamSlot> slot = MakeRef<StreamSlot>();
    slot->index = index;
    slot->firstByte = first;
    // The thread starts at once; its calls back wait for the state lock until its slot exists.
    IDownloadStreamOwner& owner = *this;
    slot->thread = MakeRef<CDownloadThread>(m_UserAgent, m_Url, m_Target, first, last, owner, m_DownloadSize,
                                            index, m_StreamCount, m_RetryCount, m_Limits, m_Generation);
    m_Streams.push_back(slot);
}

std::uint32_t CHTTPDownload::SwitchToTwoStreams(std::uint32_t size, std::uint32_t generation)
{
    Win32::CCriticalSectionLock lock(m_StateLock);
    if (m_ShuttingDown || m_Aborted || m_Finished || generation != m_Generation || m_StreamCount != 1 ||
        m_SingleStreamForced.load() || size <= kFirstRequestLength)
        return 0;
    m_StreamCount = kMaxStreams;
    m_DownloadSize = size;
    m_SizeKnown = true;
    // The plan is on disk before stream 0 writes a byte under it, so a kill at any moment resumes it.
    DownloadProgress(m_Target, m_StreamCount, size).Write();
    const std::uint32_t split = StreamStart(size, m_StreamCount, 1);
    AddStreamLocked(1, split, size - 1);
    return split;
}

void CHTTPDownload::RequestRestart(RestartRequest request, Win32::CThread& thread, const std::string& message,
                                   std::uint32_t generation)
{
    if (request == RestartRequest::SingleStream)
        m_Watchdog->SignalRestartDownloadSingleStream(thread, message, generation);
    else if (request == RestartRequest::MultiStream)
        m_Watchdog->SignalRestartDownloadMultiStream(thread, message, generation);
}

void CHTTPDownload::RestartMultiStream(std::uint32_t generation)
{
    std::uint32_t count = kMaxStreams;
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        if (m_DownloadSize < kMaxStreams)
            count = m_StreamCount; // nothing to split
    }
    Restart(count, generation);
}

void CHTTPDownload::Restart(std::uint32_t count, std::uint32_t generation)
{
    Win32::CCriticalSectionLock restartLock(m_RestartLock);
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        if (m_ShuttingDown || m_Aborted || m_Finished)
            return;
        if (generation != CWatchdogThread::kAnyGeneration && generation != m_Generation)
            return;     // asked by a stream of a start that an earlier restart already replaced
        ++m_Generation; // the streams being stopped may no longer switch to two streams
    }
    StopAllStreams();
    WaitForAllStreams();
    Cleanup(true);
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        m_BytesDone = 0;
        m_BytesThisConnection = 0;
        m_StreamCount = count;
        if (count == 1)
            m_SingleStreamForced.store(true);
        m_RestartCount.fetch_add(1);
    }
    StartDownload();
}

void CHTTPDownload::Abort()
{
    std::optional<Win32::CCriticalSectionLock> callbackLock;
    // Waits for a running callback, unless this thread is the one inside it.
    if (m_CallbackThreadId.load() != ::GetCurrentThreadId())
        callbackLock.emplace(m_CallbackLock);
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        if (m_Aborted || m_Finished)
            return;
        m_Aborted = true;
    }
    callbackLock.reset();
    StopAllStreams();
}

void CHTTPDownload::StopStreams(const Slots& slots)
{
    for (const CRefPtr<StreamSlot>& slot : slots)
        slot->thread->SignalStop();
    for (const CRefPtr<StreamSlot>& slot : slots)
        slot->thread->ForceClose(kForceCloseMs);
}

void CHTTPDownload::StopAllStreams()
{
    Slots slots;
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        slots = m_Streams;
    }
    StopStreams(slots);
}

void CHTTPDownload::WaitForAllStreams()
{
    Slots slots;
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        slots = m_Streams;
    }
    StopStreams(slots);
    // Without the state lock: a stream may need it to finish its last call back.
    for (const CRefPtr<StreamSlot>& slot : slots)
        slot->thread->WaitForExit();
    Win32::CCriticalSectionLock lock(m_StateLock);
    m_Streams.erase(std::remove_if(m_Streams.begin(), m_Streams.end(),
                                   [&slots](const CRefPtr<StreamSlot>& slot)
                                   {
                                       return std::any_of(slots.begin(), slots.end(),
                                                          [&slot](const auto& waited)
                                                          { return waited.Get() == slot.Get(); });
                                   }),
                    m_Streams.end());
}

void CHTTPDownload::SetDownloadSize(std::uint32_t size)
{
    Win32::CCriticalSectionLock lock(m_StateLock);
    m_SizeKnown = true;
    m_DownloadSize = size;
    // Kept on disk too: a resumed download that knows the size can tell a complete stream without asking.
    if (!m_Aborted && !m_Finished)
        DownloadProgress(m_Target, m_StreamCount, size).Write();
}

bool CHTTPDownload::WaitForOtherStreams(std::uint32_t index, Win32::CThread& thread)
{
    std::uint32_t count = 0;
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        ++m_StreamsAtEnd;
        count = m_StreamCount;
    }
    if (count == 1 || index + 1 != count)
        return true;
    for (;;)
    {
        {
            Win32::CCriticalSectionLock lock(m_StateLock);
            if (m_StreamsAtEnd >= count)
                return true;
        }
        if (thread.WaitForStopSignal(kMeetingPollMs))
            return false;
    }
}

void CHTTPDownload::DownloadThreadCallback(const StreamReport& report, Win32::CThread& thread)
{
    try
    {
        bool finalize = false;
        bool allReported = false;
        std::wstring target;
        bool checkSize = false;
        std::uint32_t expectedSize = 0;
        {
            Win32::CCriticalSectionLock lock(m_StateLock);
            m_AuthRefreshNeeded = report.authRefreshNeeded;
            if (m_Aborted || m_StartPending)
                return;
            const auto found =
                std::find_if(m_Streams.begin(), m_Streams.end(),
                             [&](const CRefPtr<StreamSlot>& slot)
                             { return slot->index == report.index && slot->thread.Get() == &thread; });
            if (found == m_Streams.end())
                return; // a stream of an earlier start, on its way out
            StreamSlot& slot = **found;
            slot.bytesThisConnection = report.bytesThisConnection;
            slot.bytesDone = report.bytesDone;
            slot.complete = report.event == StreamReport::Event::Complete;
            slot.reported = true;
            m_BytesDone = 0;
            m_BytesThisConnection = 0;
            bool allComplete = true;
            allReported = true;
            for (const CRefPtr<StreamSlot>& each : m_Streams)
            {
                m_BytesDone += each->bytesDone;
                m_BytesThisConnection += each->bytesThisConnection;
                allComplete = allComplete && each->complete;
                allReported = allReported && each->reported;
            }
            if (report.event == StreamReport::Event::Failed)
            {
                if (report.exception)
                    OV_THROW(*report.exception, "Download Thread Error");
                OV_THROW("Unknown Download Thread Error");
            }
            if (allComplete && !m_Finalizing)
            {
                m_Finalizing = true;
                finalize = true;
                target = m_Target;
                checkSize = m_SizeKnown;
                expectedSize = m_DownloadSize;
            }
        }
        if (finalize)
        {
            FinalizeDownload(target, checkSize, expectedSize, thread);
            Win32::CCriticalSectionLock lock(m_StateLock);
            m_Finished = true;
        }
        if (allReported)
            NotifyProgress();
    }
    catch (...)
    {
        const CRefPtr<CException> failure = WrapCaughtException(OV_HERE, "HTTPDownloadThreadCallback");
        ::DeleteFileW(m_Target.c_str()); // never leave a file behind that the failure did not vouch for
        FailDownload(failure);
    }
}

void CHTTPDownload::FailDownload(const CRefPtr<CException>& failure)
{
    try
    {
        {
            Win32::CCriticalSectionLock lock(m_StateLock);
            m_Exception = failure;
            m_Failed = true;
        }
        Abort();
        NotifyProgress();
    }
    catch (...)
    {
        // Stopping a stream failed; the owner sees the failure through GetStatus all the same.
    }
}

void CHTTPDownload::NotifyProgress()
{
    if (m_Callback == nullptr)
        return;
    const DownloadStatus status = GetStatus();
    Win32::CCriticalSectionLock callbackLock(m_CallbackLock);
    bool deliver = true;
    if (status.failed)
    {
        Win32::CCriticalSectionLock lock(m_StateLock);
        deliver = !m_FailureReported;
        m_FailureReported = true;
    }
    if (!deliver)
        return;
    m_CallbackThreadId.store(::GetCurrentThreadId());
    try
    {
        m_Callback(status, m_Context);
    }
    catch (...)
    {
        // The owner's callback must not end a stream thread.
    }
    m_CallbackThreadId.store(0);
}

} // namespace OV::System::Net::MultiStreamDownload
