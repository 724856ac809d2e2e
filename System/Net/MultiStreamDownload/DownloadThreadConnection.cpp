// The connection set-up of a download thread: request, status and header checks.
#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/ContentRange.h"
#include "System/Net/MultiStreamDownload/DownloadThread.h"
#include "System/Net/Url.h"
#include "System/String/AnsiWide.h"

#include <vector>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

// The download thread's exceptions name its own source, also for the part that lives in this file.
constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\DownloadThread.cpp";
// The set-up's failures are known as those of EstablishConnection, at the lines they have always carried,
// also where the steps it calls raise them.
constexpr char kEstablish[] = "OV::System::Net::MultiStreamDownload::CDownloadThread::EstablishConnection";
// Opening the handles.
constexpr FixedPlace kSetOptionFailure(87, kEstablish);
constexpr FixedPlace kInternetOpenFailure(127, kEstablish);
constexpr FixedPlace kStatusCallbackFailure(130, kEstablish);
constexpr FixedPlace kUnusableUrl(146, kEstablish);
constexpr FixedPlace kConnectFailure(157, kEstablish);
constexpr FixedPlace kOpenRequestFailure(175, kEstablish);
// The answer's status and range.
constexpr FixedPlace kNoStatus(234, kEstablish);
constexpr FixedPlace kWholeFileInAStream(263, kEstablish);
constexpr FixedPlace kAuthNeeded(297, kEstablish);
constexpr FixedPlace kBadStatus(301, kEstablish);
constexpr FixedPlace kUnexpectedStatus(308, kEstablish);
constexpr FixedPlace kWrongRange(328, kEstablish);
constexpr FixedPlace kWrongTotal(357, kEstablish);
constexpr DWORD kHeaderBufferSize = 65536;
constexpr DWORD kFieldBufferSize = 1040;
constexpr DWORD kAsyncWaitSliceMs = 50;
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;

} // namespace

void CDownloadThread::MarkUnusableAnswer()
{
    m_NetworkError = true;
    ::SetLastError(ERROR_SUCCESS);
}

void CDownloadThread::ReleaseContext()
{
    const DWORD error = ::GetLastError();
    m_Async->Release();
    ::SetLastError(error);
}

void CALLBACK CDownloadThread::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                                              DWORD length)
{
    auto* state = reinterpret_cast<AsyncState*>(context);
    if (state == nullptr)
        return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE && information != nullptr &&
        length >= sizeof(INTERNET_ASYNC_RESULT))
    {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        state->error.store(
            result->dwResult ? 0 : (result->dwError != 0 ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR));
        try
        {
            state->done.Set();
        }
        catch (...)
        {
            // The waiting thread still sees its stop or its time-out.
        }
    }
    else if (status == INTERNET_STATUS_HANDLE_CLOSING)
    {
        state->Release(); // the reference this handle held
    }
}

DWORD_PTR CDownloadThread::TakeContext()
{
    m_Async->AddRef();
    return reinterpret_cast<DWORD_PTR>(m_Async.Get());
}

bool CDownloadThread::AwaitCompletion(DWORD& error)
{
    // In slices, so that a stop is seen at once; WinInet's own time-outs end the operation itself.
    while (::WaitForSingleObject(m_Async->done.GetHandle(), kAsyncWaitSliceMs) != WAIT_OBJECT_0)
    {
        if (IsStopSignalled())
            return false;
    }
    error = m_Async->error.load();
    return true;
}

void CDownloadThread::SetTimeouts(HINTERNET handle, const char* what)
{
    // Time-outs on the connection and request handles (WinInet ignores those of the root handle): they
    // are what ends a read from a server that stopped sending, and so what bounds a stop.
    for (DWORD option :
         {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_CONNECT_TIMEOUT})
    {
        DWORD value = m_Limits.receiveTimeoutMs;
        if (!::InternetSetOptionW(handle, option, &value, sizeof(value)))
        {
            m_NetworkError = true;
            OV_THROW_AT(kSetOptionFailure,
                        std::string("InternetSetOption failed on the ") + what + " handle.  URL=" + m_Url);
        }
    }
}

std::string CDownloadThread::QueryHeaders(DWORD infoLevel)
{
    std::vector<char> buffer(kHeaderBufferSize, '\0');
    static const char kBlank[] = "--blank--";
    std::copy(kBlank, kBlank + sizeof(kBlank) - 1, buffer.begin());
    DWORD length = kHeaderBufferSize;
    if (!::HttpQueryInfoA(m_Request.Get(), infoLevel, buffer.data(), &length, nullptr))
    {
        m_NetworkError = true;
        OV_THROW("HttpQueryInfoA returned failure");
    }
    return std::string(buffer.data(), std::min(length, kHeaderBufferSize));
}

bool CDownloadThread::QueryHeader(DWORD infoLevel, std::string& value)
{
    char buffer[kFieldBufferSize] = {};
    DWORD length = kFieldBufferSize;
    if (!::HttpQueryInfoA(m_Request.Get(), infoLevel, buffer, &length, nullptr))
        return false;
    value.assign(buffer, std::min(length, kFieldBufferSize));
    return true;
}

bool CDownloadThread::OpenHandles()
{
    m_Async = MakeRef<AsyncState>();
    m_Internet.Reset(::InternetOpenA(m_UserAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                     INTERNET_FLAG_ASYNC));
    if (!m_Internet)
    {
        m_NetworkError = true;
        OV_THROW_AT(kInternetOpenFailure, "InternetOpen failed.");
    }
    // Before any child handle: children take the callback over from their parent when they are made.
    if (::InternetSetStatusCallbackA(m_Internet.Get(), &StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
    {
        m_NetworkError = true;
        OV_THROW_AT(kStatusCallbackFailure, "InternetSetStatusCallback failed.");
    }
    if (IsStopSignalled())
        return false;

    Url url;
    try
    {
        url = Url::Parse(m_Url, false);
    }
    catch (const CException&)
    {
        url = Url(); // a bad port: refused below like any other unusable address
    }
    if ((url.scheme != "http" && url.scheme != "https") || url.host.empty())
    {
        // Not a network failure: every further attempt would fail the same way.
        OV_THROW_AT(kUnusableUrl, "The URL cannot be used for a download.  URL=" + m_Url);
    }
    const DWORD_PTR connectionContext = TakeContext();
    m_Connection.Reset(::InternetConnectW(m_Internet.Get(), AnsiToWide(url.host).c_str(),
                                          static_cast<INTERNET_PORT>(url.port), L"", nullptr,
                                          INTERNET_SERVICE_HTTP, 0, connectionContext));
    if (!m_Connection)
    {
        ReleaseContext();
        m_NetworkError = true;
        OV_THROW_AT(kConnectFailure, "InternetConnect failed.  URL=" + m_Url);
    }
    SetTimeouts(m_Connection.Get(), "connection");
    if (IsStopSignalled())
        return false;

    const std::wstring objectName = AnsiToWide(url.GetObjectName());
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    const DWORD_PTR requestContext = TakeContext();
    m_Request.Reset(::HttpOpenRequestW(
        m_Connection.Get(), L"GET", objectName.c_str(), L"HTTP/1.1", nullptr, acceptTypes,
        kRequestFlags | (url.scheme == "https" ? INTERNET_FLAG_SECURE : 0), requestContext));
    if (!m_Request)
    {
        ReleaseContext();
        m_NetworkError = true;
        OV_THROW_AT(kOpenRequestFailure,
                    L"HttpOpenRequestW failed.  URL=" + AnsiToWide(m_Url) + L"\r\nPath=" + objectName);
    }
    SetTimeouts(m_Request.Get(), "request");
    return !IsStopSignalled();
}

void CDownloadThread::EstablishConnection(std::uint32_t& offset, ServerAnswer& answer)
{
    if (!OpenHandles())
        return;

    // A fresh download asks for a bounded first answer: whatever the file's size, that answer is read to
    // its end, so learning the size never means closing a body unread.
    m_AskedFirstBytes = m_SingleStream && offset == 0 && !m_SizeKnown && !m_Owner.IsSingleStreamForced();
    m_AnswerEnd = 0;
    std::string headers = "Connection: Keep-Alive\r\n";
    if (!m_SingleStream)
        headers += "Range: bytes=" + std::to_string(offset) + "-" + std::to_string(m_LastByte) + "\r\n";
    else if (m_AskedFirstBytes)
        headers += "Range: bytes=0-" + std::to_string(kFirstRequestLength - 1) + "\r\n";
    else if (offset != 0)
        headers += "Range: bytes=" + std::to_string(offset) + "-\r\n";
    if (!::HttpAddRequestHeadersA(m_Request.Get(), headers.c_str(), static_cast<DWORD>(-1),
                                  HTTP_ADDREQ_FLAG_ADD))
    {
        m_NetworkError = true;
        OV_THROW("HttpAddRequestHeadersA failed.  URL=" + m_Url + "\r\nHeader=" + headers);
    }

    DWORD error = 0;
    if (!::HttpSendRequestA(m_Request.Get(), nullptr, 0, nullptr, 0))
    {
        error = ::GetLastError();
        if (error == ERROR_IO_PENDING && !AwaitCompletion(error))
            return; // stopped
    }
    // The send's error may have come from WinInet's own thread: it is recorded as the last error.
    if (error != ERROR_SUCCESS)
    {
        m_NetworkError = true;
        if (error == ERROR_INTERNET_TIMEOUT)
        {
            m_TimedOut = true;
            OV_THROW_WIN32_IF(error, "HttpSendRequestA failed: timed out.  URL=" + m_Url);
        }
        OV_THROW_WIN32_IF(error, "HttpSendRequestA failed.");
    }

    const std::string raw = QueryHeaders(HTTP_QUERY_RAW_HEADERS_CRLF);
    if (raw.empty())
    {
        MarkUnusableAnswer();
        OV_THROW("Server Header is empty.  URL=" + m_Url);
    }
    CheckStatus(offset, answer, "\r\nHTTP Response Header:" + raw);

    std::string lastModified;
    m_LastModified = QueryHeader(HTTP_QUERY_LAST_MODIFIED, lastModified) ? lastModified : "UNKNOWN";
    // Only a strong tag promises the same bytes; a weak one ("W/...") is not compared.
    if (!QueryHeader(HTTP_QUERY_ETAG, m_EntityTag) || m_EntityTag.rfind("W/", 0) == 0)
        m_EntityTag.clear();
}

void CDownloadThread::CheckStatus(std::uint32_t& offset, ServerAnswer& answer, const std::string& headers)
{
    std::string statusText;
    std::uint32_t status = 0;
    if (!QueryHeader(HTTP_QUERY_STATUS_CODE, statusText) || !ParseHeaderNumber(statusText, status))
    {
        MarkUnusableAnswer();
        OV_THROW_AT(kNoStatus, "HTTP status is not in header, URL=" + m_Url + headers);
    }

    if (CheckFailureStatus(status, answer, headers))
        return;

    std::string lengthText;
    std::uint32_t contentLength = 0;
    const bool hasLength =
        QueryHeader(HTTP_QUERY_CONTENT_LENGTH, lengthText) && ParseHeaderNumber(lengthText, contentLength);

    // A server that does not serve ranges gets one stream for the rest of the download: a second stream
    // would only be answered with the whole file again, and a restart would drain the body unread.
    std::string acceptRanges;
    const bool noRanges = (status == 200 && (m_AskedFirstBytes || offset != 0 || !m_SingleStream)) ||
                          (QueryHeader(HTTP_QUERY_ACCEPT_RANGES, acceptRanges) &&
                           acceptRanges.find("none") != std::string::npos);
    if (noRanges)
        m_Owner.ForceSingleStream();

    if (status == 200)
    {
        if (!m_SingleStream)
        {
            const std::string message =
                "HTTP status is 200, when 206 Partial Content was expected (OutputFileSize is "
                "Known: in multi-stream mode)  URL=" +
                m_Url + headers;
            RequestSingleStreamRestart(message);
            // Refused (the restarts are used up): the whole file would land in this stream's range.
            OV_THROW_AT(kWholeFileInAStream, message);
        }
        offset = 0; // the server ignored the range: the body is the whole file
        if (hasLength)
        {
            answer.sizeGiven = true;
            answer.size = contentLength;
        }
        return;
    }

    CheckPartialContent(offset, answer, headers, hasLength, contentLength, noRanges);
}

bool CDownloadThread::CheckFailureStatus(std::uint32_t status, ServerAnswer& answer,
                                         const std::string& headers)
{
    const std::string code = std::to_string(status);
    if (status == 416)
    {
        // The first bytes of an empty file cannot be served: the file is empty, and that answer says all.
        std::string rangeText;
        if (m_AskedFirstBytes && QueryHeader(HTTP_QUERY_CONTENT_RANGE, rangeText) &&
            IsEmptyFileRange(rangeText))
        {
            answer.sizeGiven = true;
            answer.size = 0;
            return true;
        }
        RequestSingleStreamRestart("HTTP status is 416.  URL=" + m_Url + headers);
    }
    if (status == 401 || status == 403)
    {
        m_AuthNeeded = true;
        MarkUnusableAnswer();
        OV_THROW_AT(kAuthNeeded,
                    "HTTP status is " + code + ":  refresh auth needed.  URL=" + m_Url + headers);
    }
    if (status >= 400)
    {
        MarkUnusableAnswer();
        OV_THROW_AT(kBadStatus, "HTTP status is bad:" + code + " URL=" + m_Url + headers);
    }
    if (status != 200 && status != 206)
    {
        std::string acceptRanges;
        if (!m_SingleStream && QueryHeader(HTTP_QUERY_ACCEPT_RANGES, acceptRanges) &&
            acceptRanges.find("none") != std::string::npos)
            RequestSingleStreamRestart("Server doesn't support ranges.  URL=" + m_Url + headers);
        MarkUnusableAnswer();
        OV_THROW_AT(kUnexpectedStatus, "HTTP status is unexpected (expected 206 or 200)  status=" + code +
                                           "  URL=" + m_Url + headers);
    }
    return false;
}

void CDownloadThread::CheckPartialContent(std::uint32_t offset, ServerAnswer& answer,
                                          const std::string& headers, bool hasLength,
                                          std::uint32_t contentLength, bool noRanges)
{
    // 206: the body must be exactly the bytes asked for, or they would land at the wrong offset.
    std::string rangeText;
    ContentRange range;
    const bool rangeValid =
        QueryHeader(HTTP_QUERY_CONTENT_RANGE, rangeText) && ContentRange::Parse(rangeText, range);
    const std::string expected = "bytes " + std::to_string(offset) + "-" +
                                 (m_SingleStream ? std::string() : std::to_string(m_LastByte));
    if (!rangeValid || range.first != offset || (!m_SingleStream && range.last != m_LastByte))
    {
        MarkUnusableAnswer();
        OV_THROW_AT(kWrongRange, "Returned Content-Range is wrong.  Got: " + rangeText +
                                     "     Expected: " + expected + "   URL=" + m_Url + headers);
    }
    if (m_SingleStream)
    {
        if (range.last + 1 < StreamEnd() || !m_SizeKnown)
            m_AnswerEnd = range.last + 1;
        answer.boundedFirst = m_AskedFirstBytes && !noRanges && range.last + 1 <= kFirstRequestLength;
        if (range.hasTotal)
        {
            answer.sizeGiven = true;
            answer.size = static_cast<std::uint32_t>(range.total);
        }
        else if (hasLength && static_cast<std::uint64_t>(offset) + contentLength <= 0xFFFFFFFFull)
        {
            answer.sizeGiven = true;
            answer.size = offset + contentLength;
        }
        return;
    }
    if (!range.hasTotal || range.total != m_DownloadSize)
    {
        const std::string message = "Returned file size in Content-Range is wrong.  Got: " +
                                    (range.hasTotal ? std::to_string(range.total) : std::string("*")) +
                                    "     Expected: " + std::to_string(m_DownloadSize) + "   URL=" + m_Url +
                                    headers;
        // The server's file is not the one this plan was made for: start again from its real size.
        RequestSingleStreamRestart(message);
        MarkUnusableAnswer();
        OV_THROW_AT(kWrongTotal, message);
    }
    answer.sizeGiven = true;
    answer.size = m_DownloadSize;
}

} // namespace OV::System::Net::MultiStreamDownload
