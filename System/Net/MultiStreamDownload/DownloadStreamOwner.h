#pragma once

#include "System/Exception.h"
#include "System/Platform.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>

namespace OV::System::Win32
{
class CThread;
}

namespace OV::System::Net::MultiStreamDownload
{

// A download is split into at most this many streams.
constexpr std::uint32_t kMaxStreams = 2;
// The first request of a fresh download asks for bytes 0 to this - 1 (20 MiB + 1 byte): a file up to that
// size comes in that one answer, and for a larger one the answer is bounded, so it is read to its end
// instead of being closed early (which under Wine reads the rest of the body before it closes).
constexpr std::uint32_t kFirstRequestLength = 0x1400001;

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

enum class RestartRequest : std::int32_t
{
    None = 0,
    SingleStream = 1,
    MultiStream = 2,
};

// What a stream tells its download about itself.
struct StreamReport
{
    enum class Event
    {
        Progress, // data arrived
        Complete, // the stream's range is in the cache file
        Failed,   // the stream gives up; exception says why
    };

    std::uint32_t index = 0;
    Event event = Event::Progress;
    bool authRefreshNeeded = false; // the server answered 401 or 403
    // Counted from the stream's first byte, and on the current connection.
    std::uint32_t bytesDone = 0;
    std::uint32_t bytesThisConnection = 0;
    CRefPtr<CException> exception; // Failed only; may be empty
};

// What a stream may tell its download and ask of it. The stream passes itself as the thread, so that the
// download can tell a current stream from one of an earlier start on its way out, and wait on its stop.
class IDownloadStreamOwner
{
public:
    virtual void DownloadThreadCallback(const StreamReport& report, Win32::CThread& thread) = 0;
    // The meeting point at the end of the streams: false when the thread's stop was signalled meanwhile.
    virtual bool WaitForOtherStreams(std::uint32_t index, Win32::CThread& thread) = 0;
    // The server named the file's size.
    virtual void SetDownloadSize(std::uint32_t size) = 0;
    // For stream 0 of a fresh single-stream start that learnt a size above kFirstRequestLength: records a
    // plan of two streams and starts stream 1, while stream 0 goes on reading its answer. Returns where
    // stream 0 now ends (exclusive), or 0 when the download stays with one stream.
    virtual std::uint32_t SwitchToTwoStreams(std::uint32_t size, std::uint32_t generation) = 0;
    // The server does not serve ranges: no second stream for the rest of this download.
    virtual void ForceSingleStream() = 0;
    virtual bool IsSingleStreamForced() const = 0;
    // Asks for a restart of the whole download on behalf of the stream's thread. Granted: stops that
    // thread and throws to unwind it. Refused: returns, and the stream goes on as it can.
    virtual void RequestRestart(RestartRequest request, Win32::CThread& thread, const std::string& message,
                                std::uint32_t generation) = 0;
    // The server's strong entity tag in the stream's answer. The first one seen is kept with the download
    // (also on disk, for a resume); false when this answer names another, so the server's file changed.
    virtual bool MatchEntityTag(const std::string& tag, std::uint32_t generation) = 0;

protected:
    ~IDownloadStreamOwner() = default;
};

} // namespace OV::System::Net::MultiStreamDownload
