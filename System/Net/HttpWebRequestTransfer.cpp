#include "System/Net/HttpWebRequestTransfer.h"

#include "System/Exception.h"
#include "System/Net/HttpHeaders.h"
#include "System/Net/HttpWebRequestBodySink.h"
#include "System/Net/HttpWebRequestCertificate.h"
#include "System/String/AnsiWide.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace OV::System::Net
{

using OV::System::Win32::CCriticalSectionLock;
using Codes = HttpWebRequestCodes;

namespace
{

constexpr DWORD kChunkSize = 65536;
constexpr DWORD kRawHeadersSize = 65536;
constexpr DWORD kResponseInfoSize = 1024;
constexpr std::uint64_t kStatusIntervalMs = 50;
// How much longer than the stall limit WinInet's own time-outs are: a caller waiting in
// GetResponseStream notices the stall first and aborts (detail 2); the time-out then ends the call.
constexpr std::uint64_t kTimeoutMarginMs = 1000;
// Used when the request has no stall limit, so that a silent server still ends the transfer.
constexpr DWORD kTimeoutWithoutStallLimitMs = 5 * 60 * 1000;
// A body that delivers fewer bytes than this in this time has stalled, however steadily it trickles.
constexpr std::uint64_t kStallWindowMs = 60 * 1000;
constexpr std::uint64_t kStallMinimumBytes = 1024;

std::string Join(const std::vector<std::string>& lines, const char* separator)
{
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        if (i)
            joined += separator;
        joined += lines[i];
    }
    return joined;
}

// Reads up to size bytes without waiting for more than has arrived: a synchronous read waits until its
// buffer is full, so a trickling server would hold it and the stall rule could never look at the clock.
// Waits (within the receive time-out) only for the first byte; read 0 is the end of the body.
BOOL ReadArrived(HINTERNET request, char* buffer, DWORD size, DWORD& read)
{
    read = 0;
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request, &available, 0, 0))
        return FALSE;
    return available == 0 || ::InternetReadFile(request, buffer, std::min(available, size), &read);
}

// The server's last response text, which says more about a failed read than its error code.
std::string LastResponseInfo()
{
    DWORD code = 0;
    char info[kResponseInfoSize] = {};
    DWORD infoLength = sizeof(info);
    if (!::InternetGetLastResponseInfoA(&code, info, &infoLength))
        info[0] = '\0';
    info[sizeof(info) - 1] = '\0';
    return info;
}

} // namespace

CHttpWebRequestTransfer::CHttpWebRequestTransfer(RequestSharedState& shared) : m_Shared(shared) {}

void CHttpWebRequestTransfer::Run() noexcept
{
    // Nothing may leave the thread: any failure becomes the request's own.
    try
    {
        Transfer();
    }
    catch (const CException& e)
    {
        Fail(Codes::DetailOther, e.GetLastErrorCode(), WideToAnsi(e.GetMessageText()));
    }
    catch (const std::exception& e)
    {
        Fail(Codes::DetailOther, 0, e.what());
    }
    catch (...)
    {
        Fail(Codes::DetailOther, 0, "unknown exception in the web request's worker");
    }
    Finish();
}

void CHttpWebRequestTransfer::Fail(std::uint32_t detail, std::uint32_t errorCode, const std::string& text)
{
    Fail(HttpWebRequestFailure{detail, errorCode, text});
}

void CHttpWebRequestTransfer::Fail(const HttpWebRequestFailure& failure)
{
    CCriticalSectionLock lock(m_Shared.m_FieldsLock);
    m_Shared.m_Result.Fail(failure);
}

bool CHttpWebRequestTransfer::EndIfCancelRequested()
{
    CCriticalSectionLock lock(m_Shared.m_FieldsLock);
    if (!m_Shared.m_CancelRequested)
        return false;
    m_Shared.m_Result.cancelled = true;
    m_Shared.m_Result.failed = true;
    return true;
}

void CHttpWebRequestTransfer::Transfer()
{
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Settings = m_Shared.m_Settings;
    }
    {
        CCriticalSectionLock lock(m_Shared.m_WorkerLock);
        m_OutputPath = m_Shared.m_OutputPath;
    }
    const HINTERNET request = OpenRequest();
    if (!request)
        return;
    std::int64_t contentLength = -1;
    if (ReceiveHeaders(request, contentLength))
        ReceiveBody(request, contentLength);
}

// Steps up to a request handle with its headers; null when one of them failed.
HINTERNET CHttpWebRequestTransfer::OpenRequest()
{
    const Url& url = m_Shared.m_Url;
    CInternetHandle root(
        ::InternetOpenA(m_Settings.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0));
    if (!root)
    {
        Fail(Codes::DetailOpenFailed, ::GetLastError(), "InternetOpenA failed");
        return nullptr;
    }
    const HINTERNET rootHandle = root.Get();
    m_Shared.m_Root.Store(std::move(root));

    CInternetHandle connection(::InternetConnectA(rootHandle, url.host.c_str(),
                                                  static_cast<INTERNET_PORT>(url.port), "", nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
    {
        Fail(Codes::DetailConnectFailed, ::GetLastError(), "InternetConnectA failed");
        return nullptr;
    }
    const HINTERNET connectionHandle = connection.Get();
    m_Shared.m_Connection.Store(std::move(connection));
    if (!SetTimeouts(connectionHandle))
        return nullptr;

    const char* acceptTypes[] = {m_Settings.acceptType.empty() ? "*/*" : m_Settings.acceptType.c_str(),
                                 nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
    if (url.scheme == "https")
        flags |= INTERNET_FLAG_SECURE;
    const std::string objectName = url.GetObjectName();
    CInternetHandle request(::HttpOpenRequestA(connectionHandle, m_Settings.verb.c_str(), objectName.c_str(),
                                               "HTTP/1.1", "", acceptTypes, flags, 0));
    if (!request)
    {
        Fail(Codes::DetailOpenRequestFailed, ::GetLastError(), "HttpOpenRequestA failed");
        return nullptr;
    }
    const HINTERNET requestHandle = request.Get();
    m_Shared.m_RequestHandle.Store(std::move(request));
    AddHeaders(requestHandle);
    return requestHandle;
}

// Under Wine, closing a WinInet handle from another thread does not wake a thread that waits in
// HttpSendRequestA or InternetReadFile; only the socket time-outs do, and only when they are set on the
// connection (or request) handle: set on the session handle they are ignored. The stall limit therefore
// becomes the connection's connect, send and receive time-out (plus a margin), so that a server that
// stops sending always ends the call, and Abort and the stall limit always end the transfer.
bool CHttpWebRequestTransfer::SetTimeouts(HINTERNET connection)
{
    const DWORD timeoutMs =
        m_Settings.stallTimeoutMs >= 1
            ? static_cast<DWORD>(std::min<std::uint64_t>(
                  static_cast<std::uint64_t>(m_Settings.stallTimeoutMs) + kTimeoutMarginMs,
                  std::numeric_limits<DWORD>::max()))
            : kTimeoutWithoutStallLimitMs;
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    {
        DWORD value = timeoutMs;
        if (!::InternetSetOptionA(connection, option, &value, sizeof(value)))
        {
            Fail(Codes::DetailConnectFailed, ::GetLastError(), "InternetSetOptionA failed for a time-out");
            return false;
        }
    }
    return true;
}

void CHttpWebRequestTransfer::AddHeaders(HINTERNET request)
{
    const std::pair<const char*, const std::string*> headers[] = {
        {"Connection", &m_Settings.connectionHeader}, {"Content-Type", &m_Settings.contentTypeHeader}};
    for (const auto& [name, value] : headers)
    {
        if (value->empty())
            continue;
        const std::string line = std::string(name) + ": " + *value + "\r\n";
        ::HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    }
}

// Sends the request and reads the answer's header lines. False when the transfer ends here: cancelled,
// or no answer came (gotResponse stays false, and why is kept for whoever looks).
bool CHttpWebRequestTransfer::SendRequest(HINTERNET request, std::vector<std::string>& lines)
{
    const std::string extraHeaders = Join(m_Settings.extraHeaders, "\r\n");
    std::vector<char>& body = m_Settings.body;
    // Its result is not tested: whether headers came back decides.
    const BOOL sent =
        ::HttpSendRequestA(request, extraHeaders.empty() ? nullptr : extraHeaders.c_str(),
                           static_cast<DWORD>(extraHeaders.size()), body.empty() ? nullptr : body.data(),
                           static_cast<DWORD>(body.size()));
    const DWORD sendError = sent ? 0 : ::GetLastError();
    if (EndIfCancelRequested())
        return false;

    std::vector<char> buffer(kRawHeadersSize);
    DWORD headersSize = kRawHeadersSize;
    const BOOL gotHeaders =
        ::HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS, buffer.data(), &headersSize, nullptr);
    const DWORD queryError = gotHeaders ? 0 : ::GetLastError();
    if (EndIfCancelRequested())
        return false;
    if (!gotHeaders || headersSize == 0 || headersSize >= kRawHeadersSize)
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Shared.m_Result.errorCode = sendError ? sendError : queryError;
        m_Shared.m_Result.failureText =
            sendError ? "HttpSendRequestA failed" : "no response headers could be read";
        return false;
    }
    lines = SplitRawHeaders(buffer.data(), headersSize);
    return true;
}

// Sends the request and takes in the answer's headers. True when a body is to be read; contentLength
// is then the announced length, or -1.
bool CHttpWebRequestTransfer::ReceiveHeaders(HINTERNET request, std::int64_t& contentLength)
{
    std::vector<std::string> lines;
    if (!SendRequest(request, lines))
        return false;
    HttpWebRequestCertificate certificate;
    if (m_Shared.m_Url.scheme == "https")
        certificate = HttpWebRequestCertificate::Read(request);

    std::string lengthText;
    const bool hasLengthHeader = FindHeaderValue(lines, "Content-Length:", lengthText);
    contentLength = -1;
    const ContentLengthValue lengthValue =
        hasLengthHeader ? ParseContentLength(lengthText, contentLength) : ContentLengthValue::Unknown;
    const bool knownLength = lengthValue == ContentLengthValue::Valid;
    const std::size_t headerCount = lines.size();
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        HttpWebRequestResult& result = m_Shared.m_Result;
        result.statusCode = lines.empty() ? -1 : ParseStatusCode(lines.front());
        result.headerLines = std::move(lines);
        result.gotResponse = true;
        result.certificate = std::move(certificate);
    }
    // WinInet takes an answer that does not begin with an HTTP status line for an HTTP/0.9 one: it
    // makes up "HTTP/1.0 200 OK" and passes the bytes off as the body. No server this program talks to
    // answers without a single header, so such an answer is refused.
    if (headerCount < 2)
    {
        Fail(Codes::DetailOther, 0, "the answer has no HTTP headers");
        return false;
    }
    if (lengthValue == ContentLengthValue::Invalid)
    {
        Fail(Codes::DetailOther, 0, "Content-Length is not a length:" + lengthText);
        return false;
    }
    if (knownLength && static_cast<std::uint64_t>(contentLength) > m_Settings.maxLength)
    {
        Fail(Codes::DetailTooLong, 0,
             "Content-Length " + std::to_string(contentLength) + " exceeds the limit");
        return false;
    }
    CCriticalSectionLock lock(m_Shared.m_FieldsLock);
    HttpWebRequestResult& result = m_Shared.m_Result;
    result.contentLength = contentLength;
    result.hasContentLength = knownLength;
    if (knownLength && result.expectedTotal == 0)
        result.expectedTotal = contentLength;
    return true;
}

// Reads the body into the output file or the memory stream.
void CHttpWebRequestTransfer::ReceiveBody(HINTERNET request, std::int64_t contentLength)
{
    const bool knownLength = contentLength >= 0;
    CHttpWebRequestBodySink sink(m_OutputPath, m_Shared.m_FieldsLock);
    if (const auto failure = sink.Open(m_Shared.m_Result, contentLength))
        return Fail(*failure);

    std::vector<char> buffer(kChunkSize);
    std::uint64_t received = 0;
    StallWindow window{::GetTickCount64(), 0};
    CStopwatch sinceStatus;
    sinceStatus.Start();
    for (;;)
    {
        DWORD chunk = kChunkSize;
        if (knownLength)
        {
            const std::uint64_t remaining =
                received < static_cast<std::uint64_t>(contentLength) ? contentLength - received : 0;
            if (remaining == 0)
                break;
            chunk = static_cast<DWORD>(std::min<std::uint64_t>(chunk, remaining));
        }
        DWORD read = 0;
        if (!ReadPiece(request, buffer.data(), chunk, read, received, window))
            return;
        if (read > 0)
        {
            if (const auto failure = sink.Write(buffer.data(), read))
                return Fail(*failure);
        }
        const bool allReceived = knownLength && received >= static_cast<std::uint64_t>(contentLength);
        if (sinceStatus.GetElapsedMs() > kStatusIntervalMs && !allReceived)
        {
            PublishStatus();
            sinceStatus.Reset();
            sinceStatus.Start();
        }
        // A short read needs no pause before the next: that one waits for data by itself.
        if (read == 0)
            break;
    }
    if (const auto failure = sink.Finish())
        return Fail(*failure);
    // A connection closed early ends the body without an error: only the count tells.
    if (knownLength && received < static_cast<std::uint64_t>(contentLength))
    {
        {
            CCriticalSectionLock lock(m_Shared.m_FieldsLock);
            m_Shared.m_Result.endedShort = true;
        }
        Fail(Codes::DetailReadFailed, 0,
             "the connection closed after " + std::to_string(received) + " of " +
                 std::to_string(contentLength) + " bytes");
    }
}

bool CHttpWebRequestTransfer::ReadPiece(HINTERNET request, char* buffer, DWORD size, DWORD& read,
                                        std::uint64_t& received, StallWindow& window)
{
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Shared.m_StallTimer.Reset();
        m_Shared.m_StallTimer.Start();
    }
    m_Shared.m_Reading = true;
    const BOOL ok = ReadArrived(request, buffer, size, read);
    const DWORD readError = ok ? 0 : ::GetLastError();
    m_Shared.m_Reading = false;
    received += read;
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Shared.m_Result.bytesReceived = received;
    }
    if (EndIfCancelRequested())
        return false;
    if (!ok)
    {
        Fail(Codes::DetailReadFailed, readError, "InternetReadFile failed. " + LastResponseInfo());
        return false;
    }
    if (received > m_Settings.maxLength)
    {
        Fail(Codes::DetailTooLong, 0,
             "the body exceeds the limit of " + std::to_string(m_Settings.maxLength));
        return false;
    }
    window.bytes += read;
    const std::uint64_t now = ::GetTickCount64();
    if (read != 0 && now - window.start >= kStallWindowMs)
    {
        if (window.bytes < kStallMinimumBytes)
        {
            Fail(Codes::DetailReadFailed, 0,
                 "the connection stalled: " + std::to_string(window.bytes) + " bytes in " +
                     std::to_string(now - window.start) + " ms");
            return false;
        }
        window = StallWindow{now, 0};
    }
    return true;
}

void CHttpWebRequestTransfer::Finish() noexcept
{
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Shared.m_StallTimer.Pause();
        m_Shared.m_TotalTimer.Pause();
    }
    m_Shared.CloseInternetHandles();
    {
        CCriticalSectionLock lock(m_Shared.m_FieldsLock);
        m_Shared.m_Result.TakeLengthFromBody();
    }
    m_Shared.m_Complete.exchange(true);
    PublishStatus();
}

void CHttpWebRequestTransfer::PublishStatus()
{
    CCriticalSectionLock fieldsLock(m_Shared.m_FieldsLock);
    CCriticalSectionLock statusLock(m_Shared.m_StatusLock);
    m_Shared.m_Result.Publish(m_Shared.m_Complete, m_Shared.m_CancelRequested);
}

} // namespace OV::System::Net
