#pragma once

#include "System/Io/Stream/MemoryStream.h"
#include "System/Net/InternetHandle.h"
#include "System/Net/RequestSharedState.h"
#include "System/Net/Url.h"
#include "System/Object.h"
#include "System/RefPtr.h"
#include "System/Stopwatch.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// One HTTP or HTTPS request through WinInet on a worker thread of its own. The body goes to a memory
// stream, or appended to a file when an output file is set. The caller sets it up, starts it, then polls
// IsComplete (or waits in GetResponseStream) and reads status, headers and body. A failed transfer
// raises nothing: it is recorded in the request (GotResponse, GetStatusCode, GetFailureDetail, ...).
class CHttpWebRequest : public CNonCopyable
{
public:
    // Constructor option: start the request at once.
    static constexpr std::uint32_t kStartAtOnce = 4;

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

    // What GetResponseStream returns: the content length and the body in memory.
    class ResponseView
    {
    public:
        explicit ResponseView(const CHttpWebRequest& request) : m_Request(request) {}
        std::int64_t GetContentLength() const { return m_Request.GetContentLength(); }
        CRefPtr<OV::System::IO::Stream::CMemoryStream> GetStream() const { return m_Request.GetBodyStream(); }

    private:
        const CHttpWebRequest& m_Request;
    };

    // Raise CException when the scheme is neither "http" nor "https" (or the port is not a port).
    explicit CHttpWebRequest(const std::string& urlText);
    CHttpWebRequest(const std::string& urlText, const std::wstring& outputPath, std::uint32_t options);
    // Aborts a running transfer and waits for its worker.
    ~CHttpWebRequest();

    // Settings, read when the worker starts.
    void SetUserAgent(const std::string& userAgent);
    void SetVerb(const std::string& verb);
    void SetAcceptType(const std::string& acceptType);
    void SetConnectionHeader(const std::string& value);
    void SetContentTypeHeader(const std::string& value);
    void SetExtraHeaders(const std::vector<std::string>& lines);
    void SetTotalTimeoutMs(std::int32_t timeoutMs);
    void SetStallTimeoutMs(std::int32_t timeoutMs);
    void SetMaxLength(std::uint64_t maxLength);
    void SetRequestBody(const void* bytes, std::size_t count);

    // Without a running worker this is the output file; while one runs it is the next output file,
    // which becomes the output file when that worker ends.
    void SetOutputFile(const std::wstring& path);
    std::wstring GetOutputFile() const;
    std::wstring GetNextOutputFile() const;

    // Starts the transfer; only the first call does anything.
    void Start();
    // Starts a worker unless one runs. Raises CException when the thread cannot be created.
    void StartDownloadFromMainThread();

    bool IsComplete() const;
    // False only when the wait timed out.
    bool WaitForWorker(std::uint32_t timeoutMs) const;
    // Starts the request if needed and waits for it, within the time limits (a request over its limit
    // is aborted).
    const ResponseView& GetResponseStream();

    // The announced length; -1 when the answer announced none.
    std::int64_t GetContentLength() const;
    // 0 before any status, 1 to 99 while the body arrives, 100 once complete.
    float GetProgressPercent() const;
    bool Succeeded() const;
    // Complete with a 2xx status, and failed only because the body ended before its announced length:
    // a caller that checks what it got (a download with its size and hash) may take it as it is.
    bool EndedShortOnly() const;
    // Ends a running transfer with detail 2; returns once its worker has ended.
    void Abort();

    // The value of the first header line that begins with the name and ": " ("Status-Code" and
    // "Status-Text" read the status line); empty when there is none.
    std::string GetHeader(const std::string& name) const;

    // Results.
    const Url& GetUrl() const { return m_Url; }
    bool GotResponse() const;
    std::int32_t GetStatusCode() const;
    std::vector<std::string> GetHeaderLines() const;
    std::uint64_t GetBytesReceived() const;
    std::int64_t GetExpectedTotal() const;
    std::uint32_t GetState() const;
    std::uint32_t GetFailureDetail() const;
    bool IsFailed() const;
    bool IsCancelled() const;
    // The WinInet or system error of the call that ended the transfer (0 when none), and a text saying
    // what went wrong (the server's last response text for a failed read).
    std::uint32_t GetErrorCode() const;
    std::string GetFailureText() const;
    std::string GetCertificateText() const;
    std::string GetCertificateSubject() const;
    std::string GetCertificateIssuer() const;
    CRefPtr<OV::System::IO::Stream::CMemoryStream> GetBodyStream() const;

    // The progress arithmetic: `contentLength` is what GetContentLength gives (-1 while unknown).
    static float ComputeProgressPercent(bool complete, std::int32_t statusCode, std::int64_t contentLength,
                                        std::int64_t expectedTotal, std::uint64_t bytesReceived);

private:
    struct Settings;

    static unsigned __stdcall WorkerMain(void* argument);

    // Worker side (HttpWebRequestTransfer.cpp).
    void RunTransfer() noexcept;
    void Transfer();
    HINTERNET OpenRequest(const Settings& settings);
    bool ReceiveHeaders(HINTERNET request, const Settings& settings, std::int64_t& contentLength);
    void ReceiveBody(HINTERNET request, const Settings& settings, std::int64_t contentLength);
    void FinishTransfer() noexcept;
    void PublishStatus();
    void Fail(std::uint32_t detail, std::uint32_t errorCode, const std::string& text);
    bool EndIfCancelRequested();

    float ProgressLocked() const;
    std::int64_t ContentLengthLocked() const;
    bool TimeLimitExceeded(std::uint32_t& sliceMs) const;
    void ResetForTransfer();

    bool m_Started = false;
    ResponseView m_ResponseView;
    std::vector<std::string> m_HeaderLines;
    std::int32_t m_TotalTimeoutMs = -1;
    std::int32_t m_StallTimeoutMs = 10000;
    std::uint64_t m_MaxLength = ~std::uint64_t(0);
    bool m_CancelRequested = false;
    std::string m_AcceptType;
    std::string m_ConnectionHeader;
    std::string m_ContentTypeHeader;
    std::string m_UserAgent = "Mozilla/4.0 (compatible; MSIE 5.0; CDA 6.0)";
    std::string m_Verb = "GET";
    std::vector<char> m_RequestBody;
    Url m_Url;
    std::int64_t m_ContentLength = 0;
    std::int64_t m_ExpectedTotal = 0;
    bool m_HasContentLength = false;
    std::uint64_t m_BytesReceived = 0;
    CRefPtr<OV::System::IO::Stream::CMemoryStream> m_ResponseStream;
    std::atomic<bool> m_Complete{false};
    bool m_GotResponse = false;
    std::string m_CertificateText;
    std::string m_CertificateSubject;
    std::string m_CertificateIssuer;
    CStopwatch m_StallTimer;
    bool m_Cancelled = false;
    std::int32_t m_StatusCode = -1;
    bool m_Failed = false;
    bool m_EndedShort = false; // the body ended before its announced length
    CStopwatch m_TotalTimer;
    std::uint32_t m_State = StateCreated;
    std::uint32_t m_FailureDetail = DetailNone;
    std::uint32_t m_ErrorCode = 0;
    std::string m_FailureText;
    CRefPtr<RequestSharedState> m_Shared;
    std::vector<std::string> m_ExtraHeaders;
};

} // namespace OV::System::Net
