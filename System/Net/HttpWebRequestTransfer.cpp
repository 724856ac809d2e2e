// The worker side of CHttpWebRequest: one transfer from opening the session to the last status update.
#include "System/Net/HttpWebRequest.h"

#include "System/Exception.h"
#include "System/Net/HttpHeaders.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace OV::System::Net
{

using OV::System::Win32::CCriticalSectionLock;
using OV::System::Win32::CLocalMemory;

namespace
{

constexpr DWORD kChunkSize = 65536;
constexpr DWORD kRawHeadersSize = 65536;
constexpr DWORD kResponseInfoSize = 1024;
constexpr DWORD kMaxCertificateTextSize = 65536;
constexpr std::size_t kFileBufferSize = 1 << 20;
constexpr std::uint64_t kStatusIntervalMs = 50;
// How much longer than the stall limit WinInet's own time-outs are: a caller waiting in
// GetResponseStream notices the stall first and aborts (detail 2); the time-out then ends the call.
constexpr std::uint64_t kTimeoutMarginMs = 1000;
// Used when the request has no stall limit, so that a silent server still ends the transfer.
constexpr DWORD kTimeoutWithoutStallLimitMs = 5 * 60 * 1000;
// A body that delivers fewer bytes than this in this time has stalled, however steadily it trickles.
constexpr std::uint64_t kStallWindowMs = 60 * 1000;
constexpr std::uint64_t kStallMinimumBytes = 1024;

struct CFileTraits
{
    using Type = FILE*;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type file) { return file != nullptr; }
    static void Close(Type file) { std::fclose(file); }
};
using CFile = OV::System::Win32::CUniqueHandle<CFileTraits>;

// INTERNET_CERTIFICATE_INFO as InternetQueryOptionA fills it: narrow texts whatever UNICODE says.
struct CertificateInfoA
{
    FILETIME ftExpiry;
    FILETIME ftStart;
    char* lpszSubjectInfo;
    char* lpszIssuerInfo;
    char* lpszProtocolName;
    char* lpszSignatureAlgName;
    char* lpszEncryptionAlgName;
    DWORD dwKeySize;
};
static_assert(sizeof(CertificateInfoA) == sizeof(INTERNET_CERTIFICATE_INFO), "layout of the WinInet struct");

std::string TextOrEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

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

// The server certificate as WinInet formats it. Wine answers the size query with a size of 1, so a
// buffer that is still too small is doubled, up to a bound, instead of trusting the first answer.
std::string QueryCertificateText(HINTERNET request)
{
    DWORD size = 0;
    if (::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE, nullptr, &size) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::string();
    for (DWORD capacity = std::max<DWORD>(size, 1024); capacity <= kMaxCertificateTextSize; capacity *= 2)
    {
        std::vector<char> text(capacity + 1, '\0');
        size = capacity;
        if (::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE, text.data(), &size))
            return std::string(text.data());
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    return std::string();
}

// Whether the answer came over TLS: an https address redirected to an http one ends on a plain
// connection, which has no certificate (and Wine's WinInet crashes when asked for one).
bool AnswerIsSecure(HINTERNET request)
{
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    return ::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

// The server certificate's text, subject and issuer, as WinInet formats them.
void ReadCertificate(HINTERNET request, std::string& text, std::string& subject, std::string& issuer)
{
    if (!AnswerIsSecure(request))
        return;
    text = QueryCertificateText(request);
    CertificateInfoA info{};
    DWORD infoSize = sizeof(info);
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, &info, &infoSize))
        return;
    const CLocalMemory owned[] = {CLocalMemory(info.lpszSubjectInfo), CLocalMemory(info.lpszIssuerInfo),
                                  CLocalMemory(info.lpszProtocolName),
                                  CLocalMemory(info.lpszSignatureAlgName),
                                  CLocalMemory(info.lpszEncryptionAlgName)};
    subject = TextOrEmpty(info.lpszSubjectInfo);
    issuer = TextOrEmpty(info.lpszIssuerInfo);
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

} // namespace

struct CHttpWebRequest::Settings
{
    std::string userAgent;
    std::string verb;
    std::string acceptType;
    std::string connectionHeader;
    std::string contentTypeHeader;
    std::vector<std::string> extraHeaders;
    std::vector<char> body;
    std::int32_t stallTimeoutMs;
    std::uint64_t maxLength;
    std::wstring outputPath;
};

unsigned __stdcall CHttpWebRequest::WorkerMain(void* argument)
{
    auto* shared = static_cast<RequestSharedState*>(argument);
    CHttpWebRequest* request = nullptr;
    {
        // Taken once the starting thread has stored this thread's handle and let go of the lock.
        CCriticalSectionLock lock(shared->m_WorkerLock);
        request = shared->m_Request;
    }
    if (request)
    {
        request->RunTransfer();
        request->FinishTransfer();
    }
    {
        CCriticalSectionLock lock(shared->m_WorkerLock);
        if (!shared->m_NextOutputPath.empty())
        {
            shared->m_OutputPath = shared->m_NextOutputPath;
            shared->m_NextOutputPath.clear();
        }
        // From here on the request may be gone: only the shared state is used.
        shared->m_WorkerThread.Reset();
    }
    shared->Release();
    return 0;
}

void CHttpWebRequest::RunTransfer() noexcept
{
    // Nothing may leave the thread: any failure becomes the request's own.
    try
    {
        Transfer();
    }
    catch (const CException& e)
    {
        Fail(DetailOther, e.GetLastErrorCode(), WideToAnsi(e.GetMessageText()));
    }
    catch (const std::exception& e)
    {
        Fail(DetailOther, 0, e.what());
    }
    catch (...)
    {
        Fail(DetailOther, 0, "unknown exception in the web request's worker");
    }
}

void CHttpWebRequest::Fail(std::uint32_t detail, std::uint32_t errorCode, const std::string& text)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Failed = true;
    // An abort has already said why the transfer ends.
    if (m_FailureDetail == DetailNone)
    {
        m_FailureDetail = detail;
        m_ErrorCode = errorCode;
        m_FailureText = text;
    }
}

bool CHttpWebRequest::EndIfCancelRequested()
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    if (!m_CancelRequested)
        return false;
    m_Cancelled = true;
    m_Failed = true;
    return true;
}

void CHttpWebRequest::Transfer()
{
    Settings settings;
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        settings =
            Settings{m_UserAgent,    m_Verb,        m_AcceptType,     m_ConnectionHeader, m_ContentTypeHeader,
                     m_ExtraHeaders, m_RequestBody, m_StallTimeoutMs, m_MaxLength,        std::wstring()};
    }
    {
        CCriticalSectionLock lock(m_Shared->m_WorkerLock);
        settings.outputPath = m_Shared->m_OutputPath;
    }
    const HINTERNET request = OpenRequest(settings);
    if (!request)
        return;
    std::int64_t contentLength = -1;
    if (ReceiveHeaders(request, settings, contentLength))
        ReceiveBody(request, settings, contentLength);
}

// Steps up to a request handle with its headers; null when one of them failed.
HINTERNET CHttpWebRequest::OpenRequest(const Settings& settings)
{
    CInternetHandle root(
        ::InternetOpenA(settings.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0));
    if (!root)
    {
        Fail(DetailOpenFailed, ::GetLastError(), "InternetOpenA failed");
        return nullptr;
    }
    const HINTERNET rootHandle = root.Get();
    m_Shared->m_Root.Store(std::move(root));

    CInternetHandle connection(::InternetConnectA(rootHandle, m_Url.host.c_str(),
                                                  static_cast<INTERNET_PORT>(m_Url.port), "", nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
    {
        Fail(DetailConnectFailed, ::GetLastError(), "InternetConnectA failed");
        return nullptr;
    }
    const HINTERNET connectionHandle = connection.Get();
    m_Shared->m_Connection.Store(std::move(connection));

    // Under Wine, closing a WinInet handle from another thread does not wake a thread that waits in
    // HttpSendRequestA or InternetReadFile; only the socket time-outs do, and only when they are set on
    // the connection (or request) handle: set on the session handle they are ignored. The stall limit
    // therefore becomes the connection's connect, send and receive time-out (plus a margin), so that a
    // server that stops sending always ends the call, and Abort and the stall limit always end the
    // transfer.
    const DWORD timeoutMs = settings.stallTimeoutMs >= 1
                                ? static_cast<DWORD>(std::min<std::uint64_t>(
                                      static_cast<std::uint64_t>(settings.stallTimeoutMs) + kTimeoutMarginMs,
                                      std::numeric_limits<DWORD>::max()))
                                : kTimeoutWithoutStallLimitMs;
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    {
        DWORD value = timeoutMs;
        if (!::InternetSetOptionA(connectionHandle, option, &value, sizeof(value)))
        {
            Fail(DetailConnectFailed, ::GetLastError(), "InternetSetOptionA failed for a time-out");
            return nullptr;
        }
    }

    const char* acceptTypes[] = {settings.acceptType.empty() ? "*/*" : settings.acceptType.c_str(), nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
    if (m_Url.scheme == "https")
        flags |= INTERNET_FLAG_SECURE;
    const std::string objectName = m_Url.GetObjectName();
    CInternetHandle request(::HttpOpenRequestA(connectionHandle, settings.verb.c_str(), objectName.c_str(),
                                               "HTTP/1.1", "", acceptTypes, flags, 0));
    if (!request)
    {
        Fail(DetailOpenRequestFailed, ::GetLastError(), "HttpOpenRequestA failed");
        return nullptr;
    }
    const HINTERNET requestHandle = request.Get();
    m_Shared->m_RequestHandle.Store(std::move(request));

    const std::pair<const char*, const std::string*> headers[] = {
        {"Connection", &settings.connectionHeader}, {"Content-Type", &settings.contentTypeHeader}};
    for (const auto& [name, value] : headers)
    {
        if (value->empty())
            continue;
        const std::string line = std::string(name) + ": " + *value + "\r\n";
        ::HttpAddRequestHeadersA(requestHandle, line.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    }
    return requestHandle;
}

// Sends the request and takes in the answer's headers. True when a body is to be read; contentLength
// is then the announced length, or -1.
bool CHttpWebRequest::ReceiveHeaders(HINTERNET requestHandle, const Settings& settings,
                                     std::int64_t& contentLength)
{
    const std::string extraHeaders = Join(settings.extraHeaders, "\r\n");
    // Its result is not tested: whether headers came back decides.
    const BOOL sent =
        ::HttpSendRequestA(requestHandle, extraHeaders.empty() ? nullptr : extraHeaders.c_str(),
                           static_cast<DWORD>(extraHeaders.size()),
                           // WinInet only reads the optional data.
                           settings.body.empty() ? nullptr : const_cast<char*>(settings.body.data()),
                           static_cast<DWORD>(settings.body.size()));
    const DWORD sendError = sent ? 0 : ::GetLastError();
    if (EndIfCancelRequested())
        return false;

    std::vector<char> buffer(kRawHeadersSize);
    DWORD headersSize = kRawHeadersSize;
    const BOOL gotHeaders =
        ::HttpQueryInfoA(requestHandle, HTTP_QUERY_RAW_HEADERS, buffer.data(), &headersSize, nullptr);
    const DWORD queryError = gotHeaders ? 0 : ::GetLastError();
    if (EndIfCancelRequested())
        return false;
    if (!gotHeaders || headersSize == 0 || headersSize >= kRawHeadersSize)
    {
        // No response: gotResponse stays false. Remember why, for whoever looks.
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        m_ErrorCode = sendError ? sendError : queryError;
        m_FailureText = sendError ? "HttpSendRequestA failed" : "no response headers could be read";
        return false;
    }
    std::vector<std::string> lines = SplitRawHeaders(buffer.data(), headersSize);

    std::string certificateText;
    std::string certificateSubject;
    std::string certificateIssuer;
    if (m_Url.scheme == "https")
        ReadCertificate(requestHandle, certificateText, certificateSubject, certificateIssuer);

    std::string lengthText;
    const bool hasLengthHeader = FindHeaderValue(lines, "Content-Length:", lengthText);
    contentLength = -1;
    const ContentLengthValue lengthValue =
        hasLengthHeader ? ParseContentLength(lengthText, contentLength) : ContentLengthValue::Unknown;
    const bool knownLength = lengthValue == ContentLengthValue::Valid;
    std::size_t headerCount = 0;
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        headerCount = lines.size();
        m_StatusCode = lines.empty() ? -1 : ParseStatusCode(lines.front());
        m_HeaderLines = std::move(lines);
        m_GotResponse = true;
        m_CertificateText = certificateText;
        m_CertificateSubject = certificateSubject;
        m_CertificateIssuer = certificateIssuer;
    }
    // WinInet takes an answer that does not begin with an HTTP status line for an HTTP/0.9 one: it
    // makes up "HTTP/1.0 200 OK" and passes the bytes off as the body. No server this program talks to
    // answers without a single header, so such an answer is refused.
    if (headerCount < 2)
    {
        Fail(DetailOther, 0, "the answer has no HTTP headers");
        return false;
    }
    if (lengthValue == ContentLengthValue::Invalid)
    {
        Fail(DetailOther, 0, "Content-Length is not a length:" + lengthText);
        return false;
    }
    if (knownLength && static_cast<std::uint64_t>(contentLength) > settings.maxLength)
    {
        Fail(DetailTooLong, 0, "Content-Length " + std::to_string(contentLength) + " exceeds the limit");
        return false;
    }
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        m_ContentLength = contentLength;
        m_HasContentLength = knownLength;
        if (knownLength && m_ExpectedTotal == 0)
            m_ExpectedTotal = contentLength;
    }
    return true;
}

// Reads the body into the output file or the memory stream.
void CHttpWebRequest::ReceiveBody(HINTERNET requestHandle, const Settings& settings,
                                  std::int64_t contentLength)
{
    const bool knownLength = contentLength >= 0;
    std::vector<char> buffer(kChunkSize);

    CFile file;
    CRefPtr<OV::System::IO::Stream::CMemoryStream> stream;
    if (!settings.outputPath.empty())
    {
        file.Reset(::_wfopen(settings.outputPath.c_str(), L"ab"));
        if (!file)
            return Fail(DetailOutputOpenFailed, static_cast<std::uint32_t>(errno),
                        "the output file could not be opened: " + WideToAnsi(settings.outputPath));
        std::setvbuf(file.Get(), nullptr, _IOFBF, kFileBufferSize);
    }
    else
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        stream = m_ResponseStream;
        if (knownLength)
            stream->SetCapacity(contentLength);
    }

    std::uint64_t received = 0;
    std::uint64_t windowStart = ::GetTickCount64();
    std::uint64_t windowBytes = 0;
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
        {
            CCriticalSectionLock lock(m_Shared->m_FieldsLock);
            m_StallTimer.Reset();
            m_StallTimer.Start();
        }
        m_Shared->m_Reading = true;
        DWORD read = 0;
        const BOOL ok = ReadArrived(requestHandle, buffer.data(), chunk, read);
        const DWORD readError = ok ? 0 : ::GetLastError();
        m_Shared->m_Reading = false;
        received += read;
        {
            CCriticalSectionLock lock(m_Shared->m_FieldsLock);
            m_BytesReceived = received;
        }
        if (EndIfCancelRequested())
            return;
        if (!ok)
        {
            DWORD code = 0;
            char info[kResponseInfoSize] = {};
            DWORD infoLength = sizeof(info);
            if (!::InternetGetLastResponseInfoA(&code, info, &infoLength))
                info[0] = '\0';
            info[sizeof(info) - 1] = '\0';
            return Fail(DetailReadFailed, readError, std::string("InternetReadFile failed. ") + info);
        }
        if (received > settings.maxLength)
            return Fail(DetailTooLong, 0,
                        "the body exceeds the limit of " + std::to_string(settings.maxLength));
        windowBytes += read;
        const std::uint64_t now = ::GetTickCount64();
        if (read != 0 && now - windowStart >= kStallWindowMs)
        {
            if (windowBytes < kStallMinimumBytes)
                return Fail(DetailReadFailed, 0,
                            "the connection stalled: " + std::to_string(windowBytes) + " bytes in " +
                                std::to_string(now - windowStart) + " ms");
            windowStart = now;
            windowBytes = 0;
        }
        if (read > 0)
        {
            if (file)
            {
                if (std::fwrite(buffer.data(), 1, read, file.Get()) != read)
                {
                    const int error = errno;
                    return Fail(error == ENOSPC ? DetailDiskFull : DetailOutputWriteFailed,
                                static_cast<std::uint32_t>(error), "writing the output file failed");
                }
            }
            else
            {
                CCriticalSectionLock lock(m_Shared->m_FieldsLock);
                stream->Write(buffer.data(), static_cast<std::int32_t>(read));
            }
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
    if (file && std::fflush(file.Get()) != 0)
    {
        const int error = errno;
        return Fail(error == ENOSPC ? DetailDiskFull : DetailOutputWriteFailed,
                    static_cast<std::uint32_t>(error), "writing the output file failed");
    }
    // A connection closed early ends the body without an error: only the count tells.
    if (knownLength && received < static_cast<std::uint64_t>(contentLength))
    {
        {
            CCriticalSectionLock lock(m_Shared->m_FieldsLock);
            m_EndedShort = true;
        }
        Fail(DetailReadFailed, 0,
             "the connection closed after " + std::to_string(received) + " of " +
                 std::to_string(contentLength) + " bytes");
    }
}

void CHttpWebRequest::FinishTransfer() noexcept
{
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        m_StallTimer.Pause();
        m_TotalTimer.Pause();
    }
    m_Shared->CloseInternetHandles();
    {
        CCriticalSectionLock lock(m_Shared->m_FieldsLock);
        if (!m_HasContentLength)
        {
            // GetContentLength stays -1: the answer announced no length.
            m_ContentLength = static_cast<std::int64_t>(m_BytesReceived);
            if (m_ExpectedTotal == 0)
                m_ExpectedTotal = m_ContentLength;
        }
    }
    m_Complete.exchange(true);
    PublishStatus();
}

void CHttpWebRequest::PublishStatus()
{
    CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
    CCriticalSectionLock statusLock(m_Shared->m_StatusLock);
    if (m_CancelRequested)
    {
        m_Cancelled = true;
        m_Failed = true;
        return;
    }
    if (ProgressLocked() < 100.0f)
        return;
    const bool statusOk = (m_StatusCode >= 200 && m_StatusCode <= 299) || m_StatusCode == 304;
    const bool succeeded = !m_Failed && statusOk;
    m_State = succeeded ? StateSucceeded : StateFailed;
    if (m_FailureDetail == DetailNone)
        m_FailureDetail = succeeded ? DetailSucceeded : (m_Failed ? DetailOther : DetailHttpStatus);
}

} // namespace OV::System::Net
