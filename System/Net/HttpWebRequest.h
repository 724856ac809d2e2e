#pragma once

#include "System/Io/Stream/MemoryStream.h"
#include "System/Net/HttpWebRequestResult.h"
#include "System/Net/HttpWebRequestWorker.h"
#include "System/Net/RequestSharedState.h"
#include "System/Net/Url.h"
#include "System/Object.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// One HTTP or HTTPS request through WinInet on a worker thread of its own. The body goes to a memory
// stream, or appended to a file when an output file is set. The caller sets it up, starts it, then polls
// IsComplete (or waits in GetResponseStream) and reads status, headers and body. A failed transfer
// raises nothing: it is recorded in the request (GotResponse, GetStatusCode, GetFailureDetail, ...).
//
// Its parts: the settings (HttpWebRequestSettings), the worker thread (CHttpWebRequestWorker) running one
// transfer (CHttpWebRequestTransfer) that writes the body to its sink (CHttpWebRequestBodySink), and the
// result it hands back (HttpWebRequestResult), all in the state the request shares with its worker.
class CHttpWebRequest : public CNonCopyable, public HttpWebRequestCodes
{
public:
    // Constructor option: start the request at once.
    static constexpr std::uint32_t kStartAtOnce = 4;

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
    const Url& GetUrl() const { return m_Shared->m_Url; }
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

private:
    bool TimeLimitExceeded(std::uint32_t& sliceMs) const;
    // One field of the result, read under the fields lock.
    template <typename T>
    T ReadResult(T HttpWebRequestResult::*field) const
    {
        Win32::CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        return m_Shared->m_Result.*field;
    }

    bool m_Started = false;
    ResponseView m_ResponseView;
    CRefPtr<RequestSharedState> m_Shared;
    CHttpWebRequestWorker m_Worker;
};

} // namespace OV::System::Net
