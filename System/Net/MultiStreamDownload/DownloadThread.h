#pragma once

#include "System/Exception.h"
#include "System/Net/InternetHandle.h"
#include "System/Net/MultiStreamDownload/DownloadStreamOwner.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/Win32/Synchronization.h"
#include "System/Win32/Thread.h"

#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace OV::System::Net::MultiStreamDownload
{

class CWriteOutputThread;

// Fetches one byte range (a stream) of the download with WinInet and hands the bytes to its write-output
// thread. Network failures are retried with growing pauses, resuming from the stream's state file; a
// server answer that shows the plan cannot work (range refused, file changed) asks its owner for a
// restart of the whole download. The send and the reads run asynchronously in WinInet and the thread
// waits for them itself, so it sees its stop signal at once and can tell a trickle from a transfer.
// Every connection also carries receive, send and connect time-outs, so a silent server ends WinInet's
// own wait with an error.
class CDownloadThread : public Win32::CThread
{
public:
    // Starts the thread at once. lastByte is 0xFFFFFFFF when the size is not known (downloadSize 0).
    // generation names the start of the download that made this stream, so that the owner can tell a
    // restart request of an earlier start from a current one.
    CDownloadThread(const std::string& userAgent, const std::string& url, const std::wstring& target,
                    std::uint32_t firstByte, std::uint32_t lastByte, IDownloadStreamOwner& owner,
                    std::uint32_t downloadSize, std::uint32_t streamIndex, std::uint32_t streamCount,
                    std::int32_t retryCount, const DownloadLimits& limits, std::uint32_t generation);
    ~CDownloadThread() override;

    // After SignalStop: when a network read is in progress, waits up to timeoutMs for the thread to end,
    // then closes the attempt's internet handle (which on Windows makes the blocked read fail at once).
    void ForceClose(DWORD timeoutMs);

    // When any stream last received data (GetTickCount64), process-wide.
    static std::uint64_t GetLastDataTick();

protected:
    std::uint32_t Execute() override;

private:
    // What the response headers said about the file.
    struct ServerAnswer
    {
        bool sizeGiven = false;
        std::uint32_t size = 0;
        // A 206 to the bounded first request of a fresh download that served no more than was asked.
        bool boundedFirst = false;
    };

    void RunAttempt();
    void EstablishConnection(std::uint32_t& offset, ServerAnswer& answer);
    // Opens the session, connection and request handles of the attempt; false when a stop came meanwhile.
    bool OpenHandles();
    void CheckStatus(std::uint32_t& offset, ServerAnswer& answer, const std::string& headers);
    // The statuses that end the answer here: true for the 416 of an empty file, which says all; a failure
    // status throws (after asking for a restart where one could help).
    bool CheckFailureStatus(std::uint32_t status, ServerAnswer& answer, const std::string& headers);
    // A 206 must serve exactly the bytes asked for.
    void CheckPartialContent(std::uint32_t offset, ServerAnswer& answer, const std::string& headers,
                             bool hasLength, std::uint32_t contentLength, bool noRanges);
    // Takes the size the server named: the size cap, the switch to two streams, the plan's size.
    void TakeServerSize(const ServerAnswer& answer, bool resumed);
    // The stall rule's window: bytes received since start (GetTickCount64).
    struct StallWindow
    {
        std::uint64_t start;
        std::uint64_t bytes;
    };

    void DownloadBits(std::uint32_t offset);
    // Reads the answer block by block and queues each block for the writer. True when the answer ended
    // or nothing more is due; false when the stream stopped.
    bool ReceiveBlocks(CWriteOutputThread& writer, std::uint32_t offset, std::uint64_t& remaining,
                       std::uint32_t& bytesThisConnection);
    // Reads up to size bytes of the answer into buffer without waiting for more than has arrived; false
    // when a read failed (GetLastError says why). Throws when the connection stalled. read 0: the end of
    // the answer, or a stop.
    bool FillBlock(unsigned char* buffer, DWORD size, DWORD& read, StallWindow& window);
    // Waits for data WinInet is fetching; false when a stop was signalled. Throws when the connection
    // stalled meanwhile.
    bool AwaitData(StallWindow& window);
    // Throws when the window is over and held fewer bytes than the stall rule asks for.
    void CheckStall(StallWindow& window, std::uint64_t now);
    bool ArriveAtEnd();
    // Where this stream's range ends (exclusive), once the size is known.
    std::uint64_t StreamEnd() const;
    void Report(StreamReport::Event event, std::uint32_t bytesDone, std::uint32_t bytesThisConnection,
                const CRefPtr<CException>& failure = nullptr);
    void ReportComplete(std::uint32_t offset, std::uint32_t bytesThisConnection);
    void CloseHandles();
    void RequestSingleStreamRestart(const std::string& message);
    void RequestMultiStreamRestart(const std::string& message);

    // WinInet runs this attempt's handles asynchronously: an operation that would wait (the send, a
    // read with nothing arrived) goes on on a WinInet thread and reports its end through the status
    // callback into this state. Each handle holds a reference until WinInet reports it closing, so a late
    // report never reaches freed memory.
    struct AsyncState : public CReferenceCounted
    {
        Win32::CEvent done{false, false};
        std::atomic<DWORD> error{0}; // of the last operation that ended, 0 when it succeeded
    };
    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                        DWORD length);
    // The context a new handle reports with (a reference is taken for it); released again when the
    // handle could not be made.
    DWORD_PTR TakeContext();
    // Waits for the operation WinInet finishes on its own thread. False when a stop was signalled (the
    // operation goes on, but its report only reaches the state). error: the operation's error, 0 when
    // it succeeded.
    bool AwaitCompletion(DWORD& error);

    void SetTimeouts(HINTERNET handle, const char* what);
    std::string QueryHeaders(DWORD infoLevel);
    bool QueryHeader(DWORD infoLevel, std::string& value);
    // Gives back the reference TakeContext took for a handle that could not be made, keeping the last
    // error that says why.
    void ReleaseContext();
    // Before raising over an answer this stream cannot use: the failure is a network one (retried), and
    // no call failed, so it records no last error.
    void MarkUnusableAnswer();

    IDownloadStreamOwner& m_Owner;
    std::string m_UserAgent;
    std::string m_Url;
    std::uint32_t m_FirstByte;
    std::uint32_t m_LastByte;
    std::wstring m_Target;
    std::uint32_t m_StreamIndex;
    std::uint32_t m_StreamCount;
    std::uint32_t m_DownloadSize;
    bool m_SizeKnown;
    bool m_SingleStream;
    std::atomic<bool> m_ReadBusy{false};
    std::int32_t m_RetryCount;
    DownloadLimits m_Limits;
    std::uint32_t m_Generation;

    // Held for the connection set-up and whenever a handle of the attempt is closed, so that ForceClose
    // from another thread never races the thread's own opening or closing.
    Win32::CCriticalSection m_HandleLock;
    CInternetHandle m_Internet;
    CInternetHandle m_Connection;
    CInternetHandle m_Request;
    CRefPtr<AsyncState> m_Async;
    // Set when ForceClose closed the internet handle: WinInet then closed its children too, and their
    // handle values may already name someone else's handles, so this thread must not touch them again.
    bool m_ForceClosed = false;

    // Per attempt (the time-out flag survives attempts until a reset).
    bool m_NetworkError = false;
    bool m_ReceivedData = false;
    bool m_AuthNeeded = false;
    bool m_TimedOut = false;
    // The attempt ended by the stall rule: what it received does not restore the retries.
    bool m_Stalled = false;
    // The meeting point at the end of the stream counts each stream once per start.
    bool m_ArrivedAtEnd = false;
    std::string m_LastModified;
    std::string m_EntityTag; // the answer's strong entity tag, or empty
    // This attempt's request asked for the first kFirstRequestLength bytes only.
    bool m_AskedFirstBytes = false;
    // Where the current answer's body ends (exclusive) when it serves less than the stream's range; 0
    // when it runs to the stream's end.
    std::uint64_t m_AnswerEnd = 0;
    // The answer ended where it was meant to, short of the stream's end: the next request goes on at
    // once, without a pause and without using up an attempt.
    bool m_ConnectAgain = false;
};

} // namespace OV::System::Net::MultiStreamDownload
