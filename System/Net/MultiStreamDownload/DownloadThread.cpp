#include "System/Net/MultiStreamDownload/DownloadThread.h"

#include "System/Net/MultiStreamDownload/CaughtException.h"
#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/SystemInfo.h"
#include "System/Net/MultiStreamDownload/WatchdogThread.h"
#include "System/Net/MultiStreamDownload/WriteOutputThread.h"

#include <algorithm>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\DownloadThread.cpp";
constexpr char kExecute[] = "OV::System::Net::MultiStreamDownload::CDownloadThread::Execute";
constexpr char kDownloadBits[] = "OV::System::Net::MultiStreamDownload::CDownloadThread::DownloadBits";
constexpr std::uint32_t kBlockSize = 0x10000;
constexpr std::uint32_t kBufferCount = 2;
constexpr DWORD kRecentDataMs = 2000;
constexpr std::uint32_t kBlocksPerStopCheck = 16;
// A block that fills slowly is handed to the writer after this long, so that progress and the state file
// keep up with a slow server.
constexpr std::uint64_t kSlowBlockHandOverMs = 1000;
// While WinInet waits for data, the stop signal and the stall rule are looked at this often.
constexpr DWORD kAwaitSliceMs = 50;

std::atomic<std::uint64_t> g_LastDataTick{0};

bool CacheHolds(const std::wstring& target, std::uint32_t offset)
{
    const std::uint64_t size = System::GetFileSize(target + L".cache");
    return size != ~std::uint64_t{0} && size >= offset;
}

} // namespace

CDownloadThread::CDownloadThread(const std::string& userAgent, const std::string& url,
                                 const std::wstring& target, std::uint32_t firstByte, std::uint32_t lastByte,
                                 CHTTPDownload& download, std::uint32_t downloadSize,
                                 std::uint32_t streamIndex, std::uint32_t streamCount,
                                 std::int32_t retryCount, const DownloadLimits& limits,
                                 std::uint32_t generation)
    : m_Download(download), m_UserAgent(userAgent), m_Url(url), m_FirstByte(firstByte), m_LastByte(lastByte),
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

std::uint64_t CDownloadThread::GetLastDataTick()
{
    return g_LastDataTick.load(std::memory_order_relaxed);
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
            failure = WrapCaughtException(kSource, __LINE__, kExecute, "DownloadThread Execute Function");
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
            m_Download.DownloadThreadCallback(m_StreamIndex, true, false, m_AuthNeeded, 0, 0, failure, *this);
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
    return m_Download.WaitForOtherStreams(m_StreamIndex, *this);
}

void CDownloadThread::ReportComplete(std::uint32_t offset, std::uint32_t bytesThisConnection)
{
    m_Download.DownloadThreadCallback(m_StreamIndex, false, true, false,
                                      offset - m_FirstByte + bytesThisConnection, bytesThisConnection,
                                      nullptr, *this);
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
    if (record.Read(*this) && record.Version == StreamProgress::kVersion &&
        record.StreamIndex == m_StreamIndex && record.ThreadsUsed == m_StreamCount &&
        record.Offset >= m_FirstByte && (!m_SizeKnown || record.Offset <= StreamEnd()) &&
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

    if (answer.sizeGiven && answer.size > m_Limits.maxSize)
        throw CException(kSource, __LINE__, kExecute, // not a network failure: no retry can change it
                         "The server's file of " + std::to_string(answer.size) +
                             " bytes is larger than the announced size of " +
                             std::to_string(m_Limits.maxSize) + " bytes");
    if (answer.sizeGiven)
    {
        if (!m_SizeKnown)
        {
            m_SizeKnown = true;
            m_DownloadSize = answer.size;
            // A large file takes a second stream; this one keeps its answer and its bytes.
            const std::uint32_t split =
                answer.boundedFirst && answer.size > CHTTPDownload::kFirstRequestLength
                    ? m_Download.SwitchToTwoStreams(answer.size, m_Generation)
                    : 0;
            if (split != 0)
            {
                m_StreamCount = CHTTPDownload::kMaxStreams;
                m_SingleStream = false;
                m_LastByte = split - 1;
            }
            else
            {
                m_Download.SetDownloadSize(answer.size);
            }
        }
        else if (m_SingleStream && !resumed && answer.size != m_DownloadSize)
        {
            // A fresh single stream reads the whole file from its start: the server's size is the truth,
            // whatever an earlier plan believed.
            m_DownloadSize = answer.size;
            m_Download.SetDownloadSize(answer.size);
        }
    }
    if (IsStopSignalled())
        return;

    if (resumed)
    {
        const std::string stored = record.GetLastModified();
        const bool sizeChanged = record.DownloadSize != 0 && answer.sizeGiven && answer.size != 0 &&
                                 record.DownloadSize != answer.size;
        const bool dateChanged =
            stored != m_LastModified && stored != "UNKNOWN" && m_LastModified != "UNKNOWN";
        if (sizeChanged || dateChanged)
        {
            const std::string message = std::string("Detected file change(s) in: ") +
                                        (sizeChanged ? "size " : "") + " " +
                                        (dateChanged ? "modified date" : "");
            RequestSingleStreamRestart(message);
            // Refused: the bytes on disk belong to another file, and going on would mix the two.
            throw CException(kSource, __LINE__, kExecute, message);
        }
    }
    if (IsStopSignalled())
        return;

    DownloadBits(offset);
}

void CDownloadThread::RequestSingleStreamRestart(const std::string& message)
{
    m_Download.GetWatchdog().SignalRestartDownloadSingleStream(*this, message, m_Generation);
}

void CDownloadThread::RequestMultiStreamRestart(const std::string& message)
{
    m_Download.GetWatchdog().SignalRestartDownloadMultiStream(*this, message, m_Generation);
}

bool CDownloadThread::FillBlock(unsigned char* buffer, DWORD size, DWORD& read, StallWindow& window)
{
    // A read that waited until its buffer is full would let a trickling server hold it for days, and the
    // stall rule could never look at the clock. The answer is read asynchronously instead: a read takes
    // what has arrived at once, and when nothing has, WinInet waits for it on a thread of its own while
    // this one watches the clock and its stop signal. A block that fills slowly is handed over early.
    read = 0;
    const std::uint64_t started = ::GetTickCount64();
    while (read < size)
    {
        INTERNET_BUFFERSA piece = {};
        piece.dwStructSize = sizeof(piece);
        piece.lpvBuffer = buffer + read;
        piece.dwBufferLength = size - read;
        DWORD got = 0;
        if (::InternetReadFileExA(m_Request.Get(), &piece, IRF_NO_WAIT,
                                  reinterpret_cast<DWORD_PTR>(m_Async.Get())))
        {
            got = piece.dwBufferLength;
        }
        else
        {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING)
                return false;
            if (!AwaitData(window))
            {
                read = 0; // stopped: nothing more is written
                return true;
            }
            if (const DWORD failed = m_Async->error.load())
            {
                ::SetLastError(failed);
                return false;
            }
            continue; // it has arrived in WinInet's buffer
        }
        read += got;
        window.bytes += got;
        const std::uint64_t now = ::GetTickCount64();
        CheckStall(window, now);
        if (got == 0 || now - started >= kSlowBlockHandOverMs)
            break; // the end of the answer, or slow data: what came goes to disk now
    }
    return true;
}

bool CDownloadThread::AwaitData(StallWindow& window)
{
    while (::WaitForSingleObject(m_Async->done.GetHandle(), kAwaitSliceMs) != WAIT_OBJECT_0)
    {
        if (IsStopSignalled())
            return false;
        CheckStall(window, ::GetTickCount64());
    }
    return true;
}

void CDownloadThread::CheckStall(StallWindow& window, std::uint64_t now)
{
    if (now - window.start < m_Limits.stallWindowMs)
        return;
    if (window.bytes < m_Limits.stallMinimumBytes)
    {
        m_NetworkError = true;
        m_Stalled = true;
        throw CException(kSource, __LINE__, kDownloadBits,
                         "The connection stalled: " + std::to_string(window.bytes) + " bytes in " +
                             std::to_string(now - window.start) + " ms");
    }
    window = StallWindow{now, 0};
}

void CDownloadThread::DownloadBits(std::uint32_t offset)
{
    std::uint64_t remaining = m_SizeKnown && StreamEnd() > offset ? StreamEnd() - offset : 0;
    std::uint32_t bytesThisConnection = 0;
    m_ReceivedData = false;

    CRefPtr<CWriteOutputThread> writer(new CWriteOutputThread(m_Target, m_FirstByte, offset, kBufferCount,
                                                              kBlockSize, m_DownloadSize, m_StreamIndex,
                                                              m_StreamCount, m_LastModified));
    bool endOfResponse = false;
    // Looking at the stop event is a kernel call (under Wine a round trip to the server that costs a good
    // part of a block's time): it is done after every wait and every read that did not simply deliver
    // data, and every few blocks otherwise, so a stop is still seen within a few blocks.
    std::uint32_t blocksSinceStopCheck = 0;
    StallWindow window{::GetTickCount64(), 0};
    for (std::uint32_t i = 1;; i ^= 1)
    {
        bool waited = false;
        unsigned char* buffer = writer->GetBuffer(i, &waited);
        if (waited && IsStopSignalled())
            break;
        DWORD size = kBlockSize;
        bool lastRead = false;
        if (m_SizeKnown)
        {
            if (remaining == 0)
            {
                endOfResponse = true; // nothing more is due: an empty file, or an empty rest
                break;
            }
            if (remaining <= kBlockSize)
            {
                size = static_cast<DWORD>(remaining);
                lastRead = true;
            }
            else if (remaining < 2 * kBlockSize)
            {
                size = static_cast<DWORD>(remaining - kBlockSize); // so that the last read is a whole block
            }
        }
        {
            Win32::CCriticalSectionLock lock(m_HandleLock);
            if (m_ForceClosed)
                break; // only after a stop
            m_ReadBusy.store(true);
        }
        DWORD read = 0;
        const bool ok = FillBlock(buffer, size, read, window);
        const DWORD readError = ::GetLastError();
        m_ReadBusy.store(false);
        const bool usual = ok && read != 0 && !lastRead && ++blocksSinceStopCheck < kBlocksPerStopCheck;
        if (!usual)
        {
            blocksSinceStopCheck = 0;
            if (IsStopSignalled())
                break;
        }
        if (!ok)
        {
            DWORD responseCode = 0;
            char responseText[1024] = {};
            DWORD responseLength = sizeof(responseText);
            ::InternetGetLastResponseInfoA(&responseCode, responseText, &responseLength);
            const std::string text(responseText, std::min<DWORD>(responseLength, sizeof(responseText)));
            m_NetworkError = true;
            ::SetLastError(readError);
            throw CException(kSource, __LINE__, kDownloadBits,
                             "InternetReadFile Error.  Status=0 BytesRead=" + std::to_string(read) +
                                 " InternetGetLastResponseInfo: " + std::to_string(responseCode) + "," +
                                 text);
        }
        if (read == 0)
        {
            endOfResponse = true;
            break;
        }
        g_LastDataTick.store(::GetTickCount64(), std::memory_order_relaxed);
        if (static_cast<std::uint64_t>(offset) + bytesThisConnection + read > m_Limits.maxSize)
            throw CException(kSource, __LINE__, kDownloadBits,
                             "The server sent more than the announced size of " +
                                 std::to_string(m_Limits.maxSize) + " bytes");
        bytesThisConnection += read;
        remaining -= std::min<std::uint64_t>(remaining, read);
        m_ReceivedData = true;
        if (lastRead && remaining == 0 && !ArriveAtEnd())
            break;
        writer->QueueBuffer(i, read);
        m_Download.DownloadThreadCallback(m_StreamIndex, false, false, false,
                                          offset - m_FirstByte + bytesThisConnection, bytesThisConnection,
                                          nullptr, *this);
    }
    if (endOfResponse)
    {
        writer->SignalEndOfData();
        writer->WaitForExit();
    }
    const CRefPtr<CException> writerFailure = writer->GetException();
    writer->Stop(INFINITE);
    if (IsStopSignalled())
        return;
    if (writerFailure)
        throw CException(kSource, __LINE__, kDownloadBits, *writerFailure, "DownloadThread");
    if (writer->GetWriteOffset() != offset + bytesThisConnection)
        throw CException(kSource, __LINE__, kDownloadBits,
                         "WriteOutputThread ended at offset " + std::to_string(writer->GetWriteOffset()) +
                             " instead of " + std::to_string(offset + bytesThisConnection));

    const std::uint64_t reached = static_cast<std::uint64_t>(offset) + bytesThisConnection;
    if (m_AnswerEnd != 0 && reached == m_AnswerEnd && bytesThisConnection != 0 &&
        (!m_SizeKnown || remaining != 0))
    {
        m_ConnectAgain = true; // a bounded answer read to its end: the rest comes with the next request
        return;
    }
    if (remaining == 0 || !m_SizeKnown)
    {
        if (ArriveAtEnd())
            ReportComplete(offset, bytesThisConnection);
        return;
    }

    const std::string text =
        "File size error - no more bytes to read, but expected " + std::to_string(remaining) + " more bytes";
    if (m_ReceivedData)
    {
        // The connection ended early after delivering data: what arrived is on disk and in the state
        // file, so the next attempt resumes right there.
        m_NetworkError = true;
        throw CException(kSource, __LINE__, kDownloadBits, text);
    }
    if (m_SingleStream)
        RequestSingleStreamRestart(text);
    else
        RequestMultiStreamRestart(text);
    throw CException(kSource, __LINE__, kDownloadBits, text);
}

} // namespace OV::System::Net::MultiStreamDownload
