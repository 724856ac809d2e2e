#pragma once

#include "System/Exception.h"
#include "System/Net/MultiStreamDownload/DownloadStreamOwner.h"
#include "System/Net/MultiStreamDownload/WatchdogThread.h"
#include "System/Object.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net::MultiStreamDownload
{

class CDownloadThread;

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
    // The first start took over the bytes of an earlier download of the same file.
    bool resumed = false;
};

using DownloadCallback = void (*)(const DownloadStatus& status, void* context);

// Downloads one file over HTTP(S) into a target path T, split into byte ranges (streams, at most two)
// fetched by download threads into T + ".cache". State files beside T (T.downloadstate, T.0, T.1, T.origin)
// let a later object for the same T and the same identity (the address and the owner's own part) resume
// where an interrupted one stopped. A watchdog thread carries out the
// restarts that streams ask for. When every stream is complete the cache file is moved to T and its size
// checked. The owner polls GetStatus or gets the callback; releasing the last reference stops the threads
// (a failed download also deletes its files then). The threads see the download only through what they
// may ask: a stream as its IDownloadStreamOwner, the watchdog as its IRestartTarget.
//
// Locks: the restart lock is taken before the state lock; the callback lock is taken with no other lock
// held.
class CHTTPDownload : public CReferenceCounted, private IDownloadStreamOwner, private IRestartTarget
{
public:
    // Where stream index of count starts in a file of size bytes. Two streams split it in halves, except
    // that the first stream of a file above kFirstRequestLength keeps at least the first answer's bytes.
    static std::uint32_t StreamStart(std::uint32_t size, std::uint32_t count, std::uint32_t index);

    CHTTPDownload(const std::wstring& userAgent, const std::wstring& url, const std::wstring& targetPath,
                  DownloadCallback callback, void* context, std::int32_t retryCount,
                  const DownloadLimits& limits = DownloadLimits(), const std::string& ownerIdentity = {});
    ~CHTTPDownload() override;

    DownloadStatus GetStatus();

    static std::wstring CacheFileName(const std::wstring& target) { return target + L".cache"; }
    // The state files a download keeps beside T (T.0, T.1, T.downloadstate, T.origin); with T a bare file
    // name, their bare names.
    static std::vector<std::wstring> StateFileNames(const std::wstring& target);

private:
    // For the streams (IDownloadStreamOwner).
    void DownloadThreadCallback(const StreamReport& report, Win32::CThread& thread) override;
    bool WaitForOtherStreams(std::uint32_t index, Win32::CThread& thread) override;
    void SetDownloadSize(std::uint32_t size) override;
    std::uint32_t SwitchToTwoStreams(std::uint32_t size, std::uint32_t generation) override;
    void ForceSingleStream() override { m_SingleStreamForced.store(true); }
    void RequestRestart(RestartRequest request, Win32::CThread& thread, const std::string& message,
                        std::uint32_t generation) override;
    bool MatchEntityTag(const std::string& tag, std::uint32_t generation) override;

    // For the watchdog (IRestartTarget), and IsSingleStreamForced for both.
    std::uint32_t GetRestartCount() const override { return m_RestartCount.load(); }
    bool IsSingleStreamForced() const override { return m_SingleStreamForced.load(); }
    void RestartSingleStream(std::uint32_t generation) override { Restart(1, generation); }
    void RestartMultiStream(std::uint32_t generation) override;
    void FailDownload(const CRefPtr<CException>& failure) override;

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
    // Whether T's state is that of this download: an origin record of the same identity, or (state written
    // without one) none at all. Takes the recorded entity tag over. The state lock is held.
    bool SameOriginLocked();
    void WriteOriginLocked();
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
    std::string m_Identity;  // the address and the owner's part, as T.origin records them
    std::string m_EntityTag; // the server's strong entity tag for the file, once one was seen
    bool m_Resumed = false;
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
