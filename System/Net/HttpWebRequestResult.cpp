#include "System/Net/HttpWebRequestResult.h"

#include <algorithm>

namespace OV::System::Net
{

float HttpWebRequestResult::ComputeProgressPercent(bool complete, std::int32_t statusCode,
                                                   std::int64_t contentLength, std::int64_t expectedTotal,
                                                   std::uint64_t bytesReceived)
{
    if (complete)
        return 100.0f;
    const std::int64_t total = contentLength != 0 ? contentLength : expectedTotal;
    if (statusCode < 0)
        return 0.0f;
    if (total == 0)
        return 22.0f;
    // An unknown length (-1) read as unsigned is the largest total, so it gives the lowest value, 1.
    const auto unsignedTotal = static_cast<std::uint64_t>(total);
    const double ratio = static_cast<double>(bytesReceived) / static_cast<double>(unsignedTotal) * 98.0 + 1.0;
    return static_cast<float>(std::clamp(ratio, 1.0, 99.0));
}

float HttpWebRequestResult::ProgressPercent(bool complete) const
{
    return ComputeProgressPercent(complete, statusCode, ContentLength(), expectedTotal, bytesReceived);
}

bool HttpWebRequestResult::Succeeded(bool complete) const
{
    return ProgressPercent(complete) >= 100.0f && !failed && statusCode >= 200 && statusCode <= 299;
}

bool HttpWebRequestResult::EndedShortOnly(bool complete) const
{
    return complete && endedShort && failureDetail == DetailReadFailed && !cancelled && statusCode >= 200 &&
           statusCode <= 299;
}

void HttpWebRequestResult::Fail(const HttpWebRequestFailure& failure)
{
    failed = true;
    if (failureDetail == DetailNone)
    {
        failureDetail = failure.detail;
        errorCode = failure.errorCode;
        failureText = failure.text;
    }
}

void HttpWebRequestResult::Publish(bool complete, bool cancelRequested)
{
    if (cancelRequested)
    {
        cancelled = true;
        failed = true;
        return;
    }
    if (ProgressPercent(complete) < 100.0f)
        return;
    const bool statusOk = (statusCode >= 200 && statusCode <= 299) || statusCode == 304;
    const bool succeeded = !failed && statusOk;
    state = succeeded ? StateSucceeded : StateFailed;
    if (failureDetail == DetailNone)
        failureDetail = succeeded ? DetailSucceeded : (failed ? DetailOther : DetailHttpStatus);
}

void HttpWebRequestResult::TakeLengthFromBody()
{
    if (hasContentLength)
        return;
    // ContentLength stays -1: the answer announced no length.
    contentLength = static_cast<std::int64_t>(bytesReceived);
    if (expectedTotal == 0)
        expectedTotal = contentLength;
}

void HttpWebRequestResult::Clear()
{
    headerLines.clear();
    cancelled = false;
    failed = false;
    endedShort = false;
    gotResponse = false;
    statusCode = -1;
    contentLength = 0;
    hasContentLength = false;
    bytesReceived = 0;
    failureDetail = DetailNone;
    errorCode = 0;
    failureText.clear();
    certificate = HttpWebRequestCertificate();
    body = MakeRef<OV::System::IO::Stream::CMemoryStream>();
}

} // namespace OV::System::Net
