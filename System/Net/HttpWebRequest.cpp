#include "System/Net/HttpWebRequest.h"

#include "System/ErrorBoundary.h"
#include "System/Net/HttpHeaders.h"

#include <algorithm>

namespace OV::System::Net
{

using OV::System::IO::Stream::CMemoryStream;
using OV::System::Win32::CCriticalSectionLock;

namespace
{
constexpr char kSource[] = "Ov\\System\\Net\\HttpWebRequest.cpp";
// The lines that the request's error texts carry.
constexpr FixedPlace kUnsupportedScheme(255);
constexpr FixedPlace kWorkerNotStarted(1048);
constexpr std::uint32_t kWaitSliceMs = 1000;
} // namespace

CHttpWebRequest::CHttpWebRequest(const std::string& urlText)
    : m_ResponseView(*this), m_Shared(MakeRef<RequestSharedState>(Url::Parse(urlText))), m_Worker(m_Shared)
{
    if (m_Shared->m_Url.scheme != "http" && m_Shared->m_Url.scheme != "https")
        OV_THROW_AT(kUnsupportedScheme, "Only http and https supported");
}

CHttpWebRequest::CHttpWebRequest(const std::string& urlText, const std::wstring& outputPath,
                                 std::uint32_t options)
    : CHttpWebRequest(urlText)
{
    SetOutputFile(outputPath);
    if (options & kStartAtOnce)
        Start();
}

CHttpWebRequest::~CHttpWebRequest()
{
    Abort();
}

void CHttpWebRequest::SetUserAgent(const std::string& userAgent)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.userAgent = userAgent;
}

void CHttpWebRequest::SetVerb(const std::string& verb)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.verb = verb;
}

void CHttpWebRequest::SetAcceptType(const std::string& acceptType)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.acceptType = acceptType;
}

void CHttpWebRequest::SetConnectionHeader(const std::string& value)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.connectionHeader = value;
}

void CHttpWebRequest::SetContentTypeHeader(const std::string& value)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.contentTypeHeader = value;
}

void CHttpWebRequest::SetExtraHeaders(const std::vector<std::string>& lines)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.extraHeaders = lines;
}

void CHttpWebRequest::SetTotalTimeoutMs(std::int32_t timeoutMs)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.totalTimeoutMs = timeoutMs;
}

void CHttpWebRequest::SetStallTimeoutMs(std::int32_t timeoutMs)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.stallTimeoutMs = timeoutMs;
}

void CHttpWebRequest::SetMaxLength(std::uint64_t maxLength)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Shared->m_Settings.maxLength = maxLength;
}

void CHttpWebRequest::SetRequestBody(const void* bytes, std::size_t count)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    const char* begin = static_cast<const char*>(bytes);
    m_Shared->m_Settings.body.assign(begin, begin + (bytes ? count : 0));
}

void CHttpWebRequest::SetOutputFile(const std::wstring& path)
{
    m_Worker.SetOutputFile(path);
}

std::wstring CHttpWebRequest::GetOutputFile() const
{
    return m_Worker.GetOutputFile();
}

std::wstring CHttpWebRequest::GetNextOutputFile() const
{
    return m_Worker.GetNextOutputFile();
}

void CHttpWebRequest::Start()
{
    if (m_Started)
        return;
    m_Started = true;
    StartDownloadFromMainThread();
}

void CHttpWebRequest::StartDownloadFromMainThread()
{
    if (!m_Worker.Start())
        OV_THROW_AT(kWorkerNotStarted, "_beginthreadex failure");
}

bool CHttpWebRequest::IsComplete() const
{
    return m_Shared->m_Complete && !m_Worker.IsRunning();
}

bool CHttpWebRequest::WaitForWorker(std::uint32_t timeoutMs) const
{
    return m_Worker.Wait(timeoutMs);
}

bool CHttpWebRequest::TimeLimitExceeded(std::uint32_t& sliceMs) const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    sliceMs = kWaitSliceMs;
    const std::int32_t totalTimeoutMs = m_Shared->m_Settings.totalTimeoutMs;
    if (totalTimeoutMs > 0)
    {
        const std::uint64_t elapsed = m_Shared->m_TotalTimer.GetElapsedMs();
        const auto limit = static_cast<std::uint64_t>(totalTimeoutMs);
        if (elapsed > limit)
            return true;
        sliceMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(sliceMs, limit - elapsed + 1));
    }
    const std::int32_t stallTimeoutMs = m_Shared->m_Settings.stallTimeoutMs;
    if (stallTimeoutMs >= 1 && m_Shared->m_Reading)
    {
        const std::uint64_t elapsed = m_Shared->m_StallTimer.GetElapsedMs();
        const auto limit = static_cast<std::uint64_t>(stallTimeoutMs);
        if (elapsed > limit)
            return true;
        sliceMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(sliceMs, limit - elapsed + 1));
    }
    return false;
}

const CHttpWebRequest::ResponseView& CHttpWebRequest::GetResponseStream()
{
    Start();
    for (;;)
    {
        if (IsComplete() || IsCancelled())
            break;
        std::uint32_t sliceMs = kWaitSliceMs;
        if (TimeLimitExceeded(sliceMs))
        {
            Abort();
            break;
        }
        WaitForWorker(sliceMs);
        if (TimeLimitExceeded(sliceMs))
        {
            Abort();
            break;
        }
    }
    return m_ResponseView;
}

void CHttpWebRequest::Abort()
{
    m_Worker.Abort();
}

std::int64_t CHttpWebRequest::GetContentLength() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.ContentLength();
}

float CHttpWebRequest::GetProgressPercent() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.ProgressPercent(m_Shared->m_Complete);
}

bool CHttpWebRequest::Succeeded() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.Succeeded(m_Shared->m_Complete);
}

bool CHttpWebRequest::EndedShortOnly() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.EndedShortOnly(m_Shared->m_Complete);
}

std::string CHttpWebRequest::GetHeader(const std::string& name) const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    const bool pseudo = name == "Status-Code" || name == "Status-Text";
    std::string value;
    FindHeaderValue(m_Shared->m_Result.headerLines, pseudo ? name : name + ": ", value);
    return value;
}

bool CHttpWebRequest::GotResponse() const
{
    return ReadResult(&HttpWebRequestResult::gotResponse);
}

std::int32_t CHttpWebRequest::GetStatusCode() const
{
    return ReadResult(&HttpWebRequestResult::statusCode);
}

std::vector<std::string> CHttpWebRequest::GetHeaderLines() const
{
    return ReadResult(&HttpWebRequestResult::headerLines);
}

std::uint64_t CHttpWebRequest::GetBytesReceived() const
{
    return ReadResult(&HttpWebRequestResult::bytesReceived);
}

std::int64_t CHttpWebRequest::GetExpectedTotal() const
{
    return ReadResult(&HttpWebRequestResult::expectedTotal);
}

std::uint32_t CHttpWebRequest::GetState() const
{
    return ReadResult(&HttpWebRequestResult::state);
}

std::uint32_t CHttpWebRequest::GetFailureDetail() const
{
    return ReadResult(&HttpWebRequestResult::failureDetail);
}

bool CHttpWebRequest::IsFailed() const
{
    return ReadResult(&HttpWebRequestResult::failed);
}

bool CHttpWebRequest::IsCancelled() const
{
    return ReadResult(&HttpWebRequestResult::cancelled);
}

std::uint32_t CHttpWebRequest::GetErrorCode() const
{
    return ReadResult(&HttpWebRequestResult::errorCode);
}

std::string CHttpWebRequest::GetFailureText() const
{
    return ReadResult(&HttpWebRequestResult::failureText);
}

std::string CHttpWebRequest::GetCertificateText() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.certificate.text;
}

std::string CHttpWebRequest::GetCertificateSubject() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.certificate.subject;
}

std::string CHttpWebRequest::GetCertificateIssuer() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Shared->m_Result.certificate.issuer;
}

CRefPtr<CMemoryStream> CHttpWebRequest::GetBodyStream() const
{
    return ReadResult(&HttpWebRequestResult::body);
}

} // namespace OV::System::Net
