#pragma once

#include "System/Io/Stream/MemoryStream.h"
#include "System/Net/HttpWebRequestCertificate.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// The codes a web request reports its state and the reason of its end with.
struct HttpWebRequestCodes
{
    enum RequestState : std::uint32_t
    {
        StateCreated = 0,
        StateRunning = 1,
        StateSucceeded = 3,
        StateFailed = 4
    };

    enum FailureDetail : std::uint32_t
    {
        DetailNone = 0,
        DetailSucceeded = 1,
        DetailAborted = 2,
        DetailHttpStatus = 3,        // the status was neither 2xx nor 304
        DetailOpenFailed = 4,        // InternetOpenA
        DetailConnectFailed = 5,     // InternetConnectA
        DetailOpenRequestFailed = 6, // HttpOpenRequestA
        DetailReadFailed = 7,        // InternetReadFile, or the body ended before its announced length
        DetailOutputOpenFailed = 8,
        DetailOutputWriteFailed = 9,
        DetailDiskFull = 10,
        DetailTooLong = 11, // the body is longer than maxLength
        DetailOther = 12
    };
};

// Why a transfer ended early: a FailureDetail, the WinInet or system error of the call that failed (0
// when none) and a text saying what went wrong.
struct HttpWebRequestFailure
{
    std::uint32_t detail;
    std::uint32_t errorCode;
    std::string text;
};

// What one transfer hands back: the answer, how far the body came, and how the transfer ended. The
// request guards it with its fields lock; the worker fills it in, the caller reads it.
struct HttpWebRequestResult : public HttpWebRequestCodes
{
    // The progress arithmetic: `contentLength` is what ContentLength gives (-1 while unknown).
    static float ComputeProgressPercent(bool complete, std::int32_t statusCode, std::int64_t contentLength,
                                        std::int64_t expectedTotal, std::uint64_t bytesReceived);

    // The announced length; -1 when the answer announced none.
    std::int64_t ContentLength() const { return hasContentLength ? contentLength : -1; }
    float ProgressPercent(bool complete) const;
    bool Succeeded(bool complete) const;
    bool EndedShortOnly(bool complete) const;

    // Records why the transfer failed, unless an earlier reason (an abort) already said why it ends.
    void Fail(const HttpWebRequestFailure& failure);
    // Settles the state and the detail once the transfer is complete; a cancelled one stays as the abort
    // left it.
    void Publish(bool complete, bool cancelRequested);
    // At the end of a body that announced no length, the length is what came.
    void TakeLengthFromBody();
    // Clears what an earlier transfer left, except the expected total.
    void Clear();

    std::vector<std::string> headerLines;
    bool gotResponse = false;
    std::int32_t statusCode = -1;
    std::int64_t contentLength = 0;
    bool hasContentLength = false;
    std::int64_t expectedTotal = 0;
    std::uint64_t bytesReceived = 0;
    CRefPtr<OV::System::IO::Stream::CMemoryStream> body = MakeRef<OV::System::IO::Stream::CMemoryStream>();
    HttpWebRequestCertificate certificate;
    std::uint32_t state = StateCreated;
    std::uint32_t failureDetail = DetailNone;
    std::uint32_t errorCode = 0;
    std::string failureText;
    bool failed = false;
    bool cancelled = false;
    bool endedShort = false; // the body ended before its announced length
};

} // namespace OV::System::Net
