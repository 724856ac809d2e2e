#include "System/Net/MultiStreamDownload/WatchdogThread.h"

#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/CaughtException.h"

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\WatchdogThread.cpp";
// A plain Stop() from the base class sets only the stop event, which this thread cannot wait on; it
// looks at it this often.
constexpr DWORD kStopPollMs = 100;

std::uint64_t Pack(RestartRequest request, std::uint32_t generation)
{
    return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(request);
}

} // namespace

CWatchdogThread::CWatchdogThread(IRestartTarget& download)
    : m_Download(download), m_RestartEvent(false, false)
{
}

CWatchdogThread::~CWatchdogThread()
{
    try
    {
        Shutdown();
        WaitForExit();
    }
    catch (...)
    {
        // An event could not be set; the base destructor's Stop ends the thread through its stop poll.
    }
}

void CWatchdogThread::Shutdown()
{
    SignalStop();
    m_RestartEvent.Set();
}

void CWatchdogThread::Request(RestartRequest request, std::uint32_t generation)
{
    m_Request.store(Pack(request, generation));
    m_RestartEvent.Set();
}

void CWatchdogThread::SignalRestartDownloadSingleStream(Win32::CThread& requestingThread,
                                                        const std::string& message, std::uint32_t generation)
{
    if (m_Download.GetRestartCount() >= kMaxRestarts)
        return;
    Request(RestartRequest::SingleStream, generation);
    requestingThread.SignalStop();
    OV_THROW("Restarting SingleStream;  " + message);
}

void CWatchdogThread::SignalRestartDownloadMultiStream(Win32::CThread& requestingThread,
                                                       const std::string& message, std::uint32_t generation)
{
    if (m_Download.GetRestartCount() >= kMaxRestarts || m_Download.IsSingleStreamForced())
        return;
    Request(RestartRequest::MultiStream, generation);
    requestingThread.SignalStop();
    OV_THROW("Restarting MultiStream;  " + message);
}

std::uint32_t CWatchdogThread::Execute()
{
    try
    {
        for (;;)
        {
            const DWORD woken = m_RestartEvent.Wait(kStopPollMs);
            if (IsStopSignalled())
                return 0;
            if (woken != WAIT_OBJECT_0)
                continue;
            // Taken and cleared in one step: a request made while this restart runs stays for the next turn.
            const std::uint64_t request = m_Request.exchange(Pack(RestartRequest::None, kAnyGeneration));
            const auto kind = static_cast<RestartRequest>(static_cast<std::int32_t>(request & 0xFFFFFFFFu));
            const auto generation = static_cast<std::uint32_t>(request >> 32);
            if (kind == RestartRequest::SingleStream)
                m_Download.RestartSingleStream(generation);
            else if (kind == RestartRequest::MultiStream)
                m_Download.RestartMultiStream(generation);
        }
    }
    catch (...)
    {
        m_Download.FailDownload(WrapCaughtException(OV_HERE, "HTTPDownload WatchdogThread Execute Function"));
        return 1;
    }
}

} // namespace OV::System::Net::MultiStreamDownload
