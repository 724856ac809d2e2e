#pragma once

#include "System/Net/HttpWebRequestResult.h"
#include "System/Net/HttpWebRequestSettings.h"
#include "System/Net/RequestSharedState.h"
#include "System/Platform.h"

#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// One transfer of a web request, run on its worker thread: from opening the WinInet session to the last
// status update. It works on the state the request shares with its worker only, and records every
// failure there instead of raising it.
class CHttpWebRequestTransfer
{
public:
    explicit CHttpWebRequestTransfer(RequestSharedState& shared);

    // Takes a copy of the settings and the output path as they are when it begins, runs the transfer
    // and marks the request complete.
    void Run() noexcept;

private:
    // The stall rule's window: bytes received since start (GetTickCount64).
    struct StallWindow
    {
        std::uint64_t start;
        std::uint64_t bytes;
    };

    void Transfer();
    HINTERNET OpenRequest();
    bool SetTimeouts(HINTERNET connection);
    void AddHeaders(HINTERNET request);
    bool SendRequest(HINTERNET request, std::vector<std::string>& lines);
    bool ReceiveHeaders(HINTERNET request, std::int64_t& contentLength);
    void ReceiveBody(HINTERNET request, std::int64_t contentLength);
    // Reads the next piece of the body and checks it against the limits; false when the transfer ends
    // here (cancelled or failed, already recorded).
    bool ReadPiece(HINTERNET request, char* buffer, DWORD size, DWORD& read, std::uint64_t& received,
                   StallWindow& window);
    void Finish() noexcept;
    void PublishStatus();
    void Fail(std::uint32_t detail, std::uint32_t errorCode, const std::string& text);
    void Fail(const HttpWebRequestFailure& failure);
    bool EndIfCancelRequested();

    RequestSharedState& m_Shared;
    HttpWebRequestSettings m_Settings;
    std::wstring m_OutputPath;
};

} // namespace OV::System::Net
