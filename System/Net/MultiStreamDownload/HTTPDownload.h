#pragma once

#include "System/Exception.h"
#include "System/Object.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Win32
{
class CThread;
}

namespace OV::System::Net::MultiStreamDownload
{

class CDownloadThread;
class CWatchdogThread;

// What the owner of a download sees.
struct DownloadStatus
{
    bool finished = false;          // the target file is in place
    bool failed = false;            // exception says why
    bool startPending = false;      // the streams have not started yet
    bool authRefreshNeeded = false; // a stream got 401 or 403
    std::uint32_t bytesDone = 0;
    std::uint32_t bytesThisConnection = 0;
    std::uint32_t downloadSize = 0; // 0 when not known
    float percent = 0;              // 0 to 100; 0 when the size is not known
    CRefPtr<CException> exception;  // only when failed
    std::uint32_t streamCount = 0;
};

using DownloadCallback = void (*)(const DownloadStatus& status, void* context);

// The limits every download keeps, so that no server can hold or fill the machine. The defaults are
// the shipped ones; a test driver narrows them to see a limit act within seconds.
struct DownloadLimits
{
    // How long one network read, send or connect may wait for the server before it fails.
    DWORD receiveTimeoutMs = 10000;
    // The largest file accepted: the size the update service announced, or 4 GiB (the engine's offsets
    // are 32-bit). A longer file fails the download before a byte past the cap is written.
    std::uint32_t maxSize = 0xFFFFFFFFu;
    // A connection that delivers fewer than stallMinimumBytes in stallWindowMs has stalled: it fails
    // like a read that timed out, and a stalled attempt does not earn its stream fresh retries.
    DWORD stallWindowMs = 60000;
    std::uint32_t stallMinimumBytes = 1024;
};

// Downloads one file over HTTP(S) into a target path T, split into byte ranges (streams, at most two)
// fetched by download threads into T + ".cache". State files beside T (T.downloadstate, T.0, T.1) let a
// later object for the same T resume where an interrupted one stopped. A watchdog thread carries out the
// restarts that streams ask for. When every stream is complete the cache file is moved to T and its size
// checked. The owner polls GetStatus or gets the callback; releasing the last reference stops the threads
// (a failed download also deletes its files then).
//
// Locks: the restart lock is taken before the state lock; the callback lock is taken with no other lock
// held.
class CHTTPDownload : public CReferenceCounted
{
public:
    static constexpr std::uint32_t kMaxStreams = 2;
    // The first request of a fresh download asks for bytes 0 to this - 1 (20 MiB + 1 byte): a file up to
    // that size comes in that one answer, and for a larger one the answer is bounded, so it is read to its
    // end instead of being closed early (which under Wine reads the rest of the body before it closes).
    static constexpr std::uint32_t kFirstRequestLength = 0x1400001;

    // Where stream index of count starts in a file of size bytes. Two streams split it in halves, except
    // that the first stream of a file above kFirstRequestLength keeps at least the first answer's bytes.
    static std::uint32_t StreamStart(std::uint32_t size, std::uint32_t count, std::uint32_t index);

    CHTTPDownload(const std::wstring& userAgent, const std::wstring& url, const std::wstring& targetPath,
                  DownloadCallback callback, void* context, std::int32_t retryCount,
                  const DownloadLimits& limits = DownloadLimits());
    ~CHTTPDownload() override;

    DownloadStatus GetStatus();

    // For the streams.
    void DownloadThreadCallback(std::uint32_t index, bool isError, bool isComplete, bool authRefreshNeeded,
                                std::uint32_t bytesDone, std::uint32_t bytesThisConnection,
                                const CRefPtr<CException>& exception, Win32::CThread& thread);
    bool WaitForOtherStreams(std::uint32_t index, Win32::CThread& thread);
    void SetDownloadSize(std::uint32_t size);
    // For stream 0 of a fresh single-stream start that learnt a size above kFirstRequestLength: records
    // a plan of two streams and starts stream 1, while stream 0 goes on reading its answer. Returns where
    // stream 0 now ends (exclusive), or 0 when the download stays with one stream.
    std::uint32_t SwitchToTwoStreams(std::uint32_t size, std::uint32_t generation);
    // The server does not serve ranges: no second stream for the rest of this download.
    void ForceSingleStream() { m_SingleStreamForced.store(true); }
    CWatchdogThread& GetWatchdog() { return *m_Watchdog; }

    // For the watchdog. A request of an earlier start than the current one is dropped.
    void RestartSingleStream(std::uint32_t generation);
    void RestartMultiStream(std::uint32_t generation);
    std::uint32_t GetRestartCount() const { return m_RestartCount.load(); }
    bool IsSingleStreamForced() const { return m_SingleStreamForced.load(); }
    // Stores the failure, aborts and tells the owner. Never throws.
    void FailDownload(const CRefPtr<CException>& failure);

    static std::wstring CacheFileName(const std::wstring& target) { return target + L".cache"; }

private:
    struct StreamSlot : public CReferenceCounted
    {
        CRefPtr<CDownloadThread> thread;
        std::uint32_t bytesDone = 0;
        std::uint32_t bytesThisConnection = 0;
        bool complete = false;
        std::uint32_t index = 0;
        std::uint32_t firstByte = 0;
        bool reported = false;
    };
    using Slots = std::vector<CRefPtr<StreamSlot>>;

    void StartIfPending();
    void StartDownload();
    // Creates and starts the thread of one stream; the state lock is held.
    void AddStreamLocked(std::uint32_t index, std::uint32_t first, std::uint32_t last);
    void Restart(std::uint32_t count, std::uint32_t generation);
    void Abort();
    void StopAllStreams();
    static void StopStreams(const Slots& slots);
    void WaitForAllStreams();
    void Cleanup(bool deleteCache);
    void FinalizeDownload(const std::wstring& target, bool checkSize, std::uint32_t expectedSize,
                          Win32::CThread& thread);
    void NotifyProgress();
    void Shutdown();
    DownloadStatus StatusLocked() const;

    CRefPtr<CWatchdogThread> m_Watchdog;
    Slots m_Streams;
    Win32::CCriticalSection m_StateLock;    // guards the fields below and the slots
    Win32::CCriticalSection m_CallbackLock; // held while the owner's callback runs
    Win32::CCriticalSection m_RestartLock;  // held for a whole start or restart
    bool m_Failed = false;
    bool m_StartPending = false;
    bool m_Finished = false;
    bool m_Aborted = false;
    bool m_AuthRefreshNeeded = false;
    std::atomic<bool> m_SingleStreamForced{false};
    std::atomic<std::uint32_t> m_RestartCount{0};
    bool m_FailureReported = false;
    std::int32_t m_RetryCount;
    std::uint32_t m_StreamCount = 1;
    CRefPtr<CException> m_Exception;
    DownloadCallback m_Callback;
    void* m_Context;
    std::string m_UserAgent;
    std::string m_Url;
    std::wstring m_Target;
    std::uint32_t m_DownloadSize = 0;
    bool m_SizeKnown = false;
    std::uint32_t m_BytesThisConnection = 0;
    std::uint32_t m_BytesDone = 0;
    std::atomic<DWORD> m_CallbackThreadId{0};
    std::uint32_t m_StreamsAtEnd = 0;
    DownloadLimits m_Limits;
    // Counts the starts; streams carry the one that made them.
    std::uint32_t m_Generation = 0;
    bool m_Finalizing = false;
    // Set while the owner releases the download: no start or restart may create streams any more.
    bool m_ShuttingDown = false;
};

} // namespace OV::System::Net::MultiStreamDownload
