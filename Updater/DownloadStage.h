#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

struct MultiStreamResult
{
    bool finished = false;
    std::wstring path;
};

// Both attempts accept no file longer than the size the update service announced (announcedSize > 0), or
// than 4 GiB without one: a longer body fails the attempt before a byte past the cap is written.

// Attempt 0: the multi-stream engine. Any failure of the engine gives finished = false (an exception of
// the engine is reported first); failures to prepare the target pass to the caller.
// A partial download that an earlier run left for the same target is resumed only when it was made for
// the same address, announced size and hash; otherwise the engine starts afresh.
MultiStreamResult DownloadMultiStream(const std::wstring& product, const std::string& address,
                                      bool emitDownloadProgress, std::int64_t announcedSize,
                                      const std::string& announcedHash);

// Attempt 1: one plain web request. Returns the file's path; fails with CExitCodeException 0x403 when
// the request does not succeed.
std::wstring DownloadSingleStream(const std::wstring& product, const std::string& address,
                                  bool emitDownloadProgress, std::int64_t announcedSize);

// The progress window position for a download progress in percent: 20 to 50.
unsigned DownloadProgressPosition(float percent);

} // namespace OV::Updater
