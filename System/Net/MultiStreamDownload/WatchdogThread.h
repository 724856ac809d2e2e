#pragma once

#include "System/Exception.h"
#include "System/Net/MultiStreamDownload/DownloadStreamOwner.h"
#include "System/RefPtr.h"
#include "System/Win32/Event.h"
#include "System/Win32/Thread.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace OV::System::Net::MultiStreamDownload
{

// What the watchdog may ask of the download it serves. A restart request of an earlier start than the
// current one is dropped by the download.
class IRestartTarget
{
public:
    virtual std::uint32_t GetRestartCount() const = 0;
    virtual bool IsSingleStreamForced() const = 0;
    virtual void RestartSingleStream(std::uint32_t generation) = 0;
    virtual void RestartMultiStream(std::uint32_t generation) = 0;
    // Stores the failure, aborts and tells the owner. Never throws.
    virtual void FailDownload(const CRefPtr<CException>& failure) = 0;

protected:
    ~IRestartTarget() = default;
};

// Carries out restarts of a download on a thread of its own: a download thread that finds the plan
// unworkable cannot restart the download itself, since a restart stops and joins every download thread,
// its own included. It asks here, stops itself and unwinds; this thread then restarts the download.
class CWatchdogThread : public Win32::CThread
{
public:
    static constexpr std::uint32_t kMaxRestarts = 4;
    // A request that names no start of the download: never taken for a stale one.
    static constexpr std::uint32_t kAnyGeneration = 0xFFFFFFFFu;

    explicit CWatchdogThread(IRestartTarget& download);
    ~CWatchdogThread() override;

    // Refused (returns) once the download made kMaxRestarts restarts. Granted: records the request, stops
    // the requesting thread and throws "Restarting SingleStream;  " + message to unwind it. generation is
    // the download start that the requesting thread belongs to: a request from an earlier start, which
    // arrives after a restart has already replaced that start, is dropped.
    void SignalRestartDownloadSingleStream(Win32::CThread& requestingThread, const std::string& message,
                                           std::uint32_t generation = kAnyGeneration);
    // As above, and also refused after a single-stream restart.
    void SignalRestartDownloadMultiStream(Win32::CThread& requestingThread, const std::string& message,
                                          std::uint32_t generation = kAnyGeneration);

    // Asks the thread to end and wakes it from its wait at once.
    void Shutdown();

protected:
    std::uint32_t Execute() override;

private:
    void Request(RestartRequest request, std::uint32_t generation);

    IRestartTarget& m_Download;
    Win32::CEvent m_RestartEvent;
    // The request and its generation in one word, so that a reader never pairs one request's kind with
    // another's generation: kind in the low 32 bits.
    std::atomic<std::uint64_t> m_Request{0};
};

} // namespace OV::System::Net::MultiStreamDownload
