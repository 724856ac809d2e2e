// The body of a download thread's answer: reading it block by block into the write-output thread.
#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/DownloadThread.h"
#include "System/Net/MultiStreamDownload/WriteOutputThread.h"

#include <algorithm>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

// The download thread's exceptions name its own source, also for the part that lives in this file.
constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\DownloadThread.cpp";
// The reading's failures are known as those of DownloadBits, at the lines they have always carried.
constexpr char kDownloadBits[] = "OV::System::Net::MultiStreamDownload::CDownloadThread::DownloadBits";
constexpr FixedPlace kStalled(100, kDownloadBits);
constexpr FixedPlace kMoreThanAnnounced(160, kDownloadBits);
constexpr FixedPlace kReadFailure(183, kDownloadBits);
constexpr std::uint32_t kBlockSize = 0x10000;
constexpr std::uint32_t kBufferCount = 2;
constexpr std::uint32_t kBlocksPerStopCheck = 16;
// A block that fills slowly is handed to the writer after this long, so that progress and the state file
// keep up with a slow server.
constexpr std::uint64_t kSlowBlockHandOverMs = 1000;
// While WinInet waits for data, the stop signal and the stall rule are looked at this often.
constexpr DWORD kAwaitSliceMs = 50;

std::atomic<std::uint64_t> g_LastDataTick{0};

// A failed read is told with the server's last response text.
std::string ReadFailureText(DWORD read)
{
    DWORD responseCode = 0;
    char responseText[1024] = {};
    DWORD responseLength = sizeof(responseText);
    ::InternetGetLastResponseInfoA(&responseCode, responseText, &responseLength);
    const std::string text(responseText, std::min<DWORD>(responseLength, sizeof(responseText)));
    return "InternetReadFile Error.  Status=0 BytesRead=" + std::to_string(read) +
           " InternetGetLastResponseInfo: " + std::to_string(responseCode) + "," + text;
}

} // namespace

std::uint64_t CDownloadThread::GetLastDataTick()
{
    return g_LastDataTick.load(std::memory_order_relaxed);
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
        OV_THROW_AT(kStalled, "The connection stalled: " + std::to_string(window.bytes) + " bytes in " +
                                  std::to_string(now - window.start) + " ms");
    }
    window = StallWindow{now, 0};
}

bool CDownloadThread::ReceiveBlocks(CWriteOutputThread& writer, std::uint32_t offset,
                                    std::uint64_t& remaining, std::uint32_t& bytesThisConnection)
{
    // Looking at the stop event is a kernel call (under Wine a round trip to the server that costs a good
    // part of a block's time): it is done after every wait and every read that did not simply deliver
    // data, and every few blocks otherwise, so a stop is still seen within a few blocks.
    std::uint32_t blocksSinceStopCheck = 0;
    StallWindow window{::GetTickCount64(), 0};
    for (std::uint32_t i = 1;; i ^= 1)
    {
        bool waited = false;
        unsigned char* buffer = writer.GetBuffer(i, &waited);
        if (waited && IsStopSignalled())
            return false;
        DWORD size = kBlockSize;
        bool lastRead = false;
        if (m_SizeKnown)
        {
            if (remaining == 0)
                return true; // nothing more is due: an empty file, or an empty rest
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
                return false; // only after a stop
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
                return false;
        }
        if (!ok)
        {
            m_NetworkError = true;
            ::SetLastError(readError); // the stop check since may have changed it
            OV_THROW_AT(kReadFailure, ReadFailureText(read));
        }
        if (read == 0)
            return true;
        g_LastDataTick.store(::GetTickCount64(), std::memory_order_relaxed);
        if (static_cast<std::uint64_t>(offset) + bytesThisConnection + read > m_Limits.maxSize)
            OV_THROW_AT(kMoreThanAnnounced, "The server sent more than the announced size of " +
                                                std::to_string(m_Limits.maxSize) + " bytes");
        bytesThisConnection += read;
        remaining -= std::min<std::uint64_t>(remaining, read);
        m_ReceivedData = true;
        if (lastRead && remaining == 0 && !ArriveAtEnd())
            return false;
        writer.QueueBuffer(i, read);
        Report(StreamReport::Event::Progress, offset - m_FirstByte + bytesThisConnection,
               bytesThisConnection);
    }
}

void CDownloadThread::DownloadBits(std::uint32_t offset)
{
    std::uint64_t remaining = m_SizeKnown && StreamEnd() > offset ? StreamEnd() - offset : 0;
    std::uint32_t bytesThisConnection = 0;
    m_ReceivedData = false;

    CRefPtr<CWriteOutputThread> writer(new CWriteOutputThread(m_Target, m_FirstByte, offset, kBufferCount,
                                                              kBlockSize, m_DownloadSize, m_StreamIndex,
                                                              m_StreamCount, m_LastModified));
    const bool endOfResponse = ReceiveBlocks(*writer, offset, remaining, bytesThisConnection);
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
        OV_THROW(*writerFailure, "DownloadThread");
    OV_THROW_IF(writer->GetWriteOffset() != offset + bytesThisConnection,
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
        OV_THROW(text);
    }
    if (m_SingleStream)
        RequestSingleStreamRestart(text);
    else
        RequestMultiStreamRestart(text);
    OV_THROW(text);
}

} // namespace OV::System::Net::MultiStreamDownload
