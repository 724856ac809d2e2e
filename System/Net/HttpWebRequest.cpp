#include "System/Net/HttpWebRequest.h"

#include "System/ErrorText.h"
#include "System/Exception.h"
#include "System/Net/HttpHeaders.h"

#include <process.h>

#include <algorithm>

namespace OV::System::Net
{

using OV::System::IO::Stream::CMemoryStream;
using OV::System::Win32::CCriticalSectionLock;
using OV::System::Win32::CHandleHolder;

namespace
{
constexpr char kSource[] = "Ov\\System\\Net\\HttpWebRequest.cpp";
constexpr char kConstructor[] = "OV::System::Net::CHttpWebRequest::CHttpWebRequest";
constexpr char kStartDownload[] = "OV::System::Net::CHttpWebRequest::StartDownloadFromMainThread";
constexpr unsigned kWorkerStackSize = 4000;
constexpr std::uint32_t kWaitSliceMs = 1000;
constexpr std::uint32_t kAbortWaitMs = 100;
} // namespace

CHttpWebRequest::CHttpWebRequest(const std::string& urlText)
    : m_ResponseView(*this), m_Url(Url::Parse(urlText)), m_ResponseStream(MakeRef<CMemoryStream>()),
      m_Shared(MakeRef<RequestSharedState>(this))
{
    if (m_Url.scheme != "http" && m_Url.scheme != "https")
        throw CException(kSource, 255, kConstructor, "Only http and https supported");
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
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    m_Shared->m_Request = nullptr;
}

void CHttpWebRequest::SetUserAgent(const std::string& userAgent)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_UserAgent = userAgent;
}

void CHttpWebRequest::SetVerb(const std::string& verb)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_Verb = verb;
}

void CHttpWebRequest::SetAcceptType(const std::string& acceptType)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_AcceptType = acceptType;
}

void CHttpWebRequest::SetConnectionHeader(const std::string& value)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_ConnectionHeader = value;
}

void CHttpWebRequest::SetContentTypeHeader(const std::string& value)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_ContentTypeHeader = value;
}

void CHttpWebRequest::SetExtraHeaders(const std::vector<std::string>& lines)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_ExtraHeaders = lines;
}

void CHttpWebRequest::SetTotalTimeoutMs(std::int32_t timeoutMs)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_TotalTimeoutMs = timeoutMs;
}

void CHttpWebRequest::SetStallTimeoutMs(std::int32_t timeoutMs)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_StallTimeoutMs = timeoutMs;
}

void CHttpWebRequest::SetMaxLength(std::uint64_t maxLength)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    m_MaxLength = maxLength;
}

void CHttpWebRequest::SetRequestBody(const void* bytes, std::size_t count)
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    const char* begin = static_cast<const char*>(bytes);
    m_RequestBody.assign(begin, begin + (bytes ? count : 0));
}

void CHttpWebRequest::SetOutputFile(const std::wstring& path)
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    if (m_Shared->m_WorkerThread)
        m_Shared->m_NextOutputPath = path;
    else
        m_Shared->m_OutputPath = path;
}

std::wstring CHttpWebRequest::GetOutputFile() const
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return m_Shared->m_OutputPath;
}

std::wstring CHttpWebRequest::GetNextOutputFile() const
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return m_Shared->m_NextOutputPath;
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
    CCriticalSectionLock workerLock(m_Shared->m_WorkerLock);
    if (m_Shared->m_WorkerThread)
        return;
    {
        CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
        ResetForTransfer();
        m_State = StateRunning;
        m_TotalTimer.Reset();
        m_TotalTimer.Start();
    }
    // The worker's reference, released by the worker as its last act.
    m_Shared->AddRef();
    unsigned threadId = 0;
    const uintptr_t thread = ::_beginthreadex(nullptr, kWorkerStackSize, &CHttpWebRequest::WorkerMain,
                                              m_Shared.Get(), 0, &threadId);
    if (thread == 0)
    {
        const DWORD error = ::GetLastError();
        m_Shared->Release();
        {
            CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
            m_State = StateFailed;
            m_Failed = true;
            m_FailureDetail = DetailOther;
            m_Complete = true;
        }
        ::SetLastError(error);
        throw CException(kSource, 1048, kStartDownload, "_beginthreadex failure");
    }
    m_Shared->m_WorkerThread.Reset(reinterpret_cast<HANDLE>(thread));
}

// A request started again after it ended runs a new transfer; what the previous one left is cleared.
// The first start keeps what was set before it (a cancellation included).
void CHttpWebRequest::ResetForTransfer()
{
    if (!m_Complete)
        return;
    m_Complete = false;
    m_HeaderLines.clear();
    m_CancelRequested = false;
    m_Cancelled = false;
    m_Failed = false;
    m_EndedShort = false;
    m_GotResponse = false;
    m_StatusCode = -1;
    m_ContentLength = 0;
    m_HasContentLength = false;
    m_BytesReceived = 0;
    m_FailureDetail = DetailNone;
    m_ErrorCode = 0;
    m_FailureText.clear();
    m_CertificateText.clear();
    m_CertificateSubject.clear();
    m_CertificateIssuer.clear();
    m_ResponseStream = MakeRef<CMemoryStream>();
}

bool CHttpWebRequest::IsComplete() const
{
    if (!m_Complete)
        return false;
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return !m_Shared->m_WorkerThread;
}

bool CHttpWebRequest::WaitForWorker(std::uint32_t timeoutMs) const
{
    CHandleHolder worker;
    {
        CCriticalSectionLock lock(m_Shared->m_WorkerLock);
        if (!m_Shared->m_WorkerThread)
            return true;
        if (!::DuplicateHandle(::GetCurrentProcess(), m_Shared->m_WorkerThread.Get(), ::GetCurrentProcess(),
                               worker.Put(), SYNCHRONIZE, FALSE, 0))
        {
            // Without a handle of our own, wait in short steps until the worker clears its own.
            worker.Reset();
        }
    }
    if (!worker)
    {
        ::Sleep(std::min<std::uint32_t>(timeoutMs, 10));
        CCriticalSectionLock lock(m_Shared->m_WorkerLock);
        return !m_Shared->m_WorkerThread;
    }
    return ::WaitForSingleObject(worker.Get(), timeoutMs) != WAIT_TIMEOUT;
}

bool CHttpWebRequest::TimeLimitExceeded(std::uint32_t& sliceMs) const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    sliceMs = kWaitSliceMs;
    if (m_TotalTimeoutMs > 0)
    {
        const std::uint64_t elapsed = m_TotalTimer.GetElapsedMs();
        const auto limit = static_cast<std::uint64_t>(m_TotalTimeoutMs);
        if (elapsed > limit)
            return true;
        sliceMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(sliceMs, limit - elapsed + 1));
    }
    if (m_StallTimeoutMs >= 1 && m_Shared->m_Reading)
    {
        const std::uint64_t elapsed = m_StallTimer.GetElapsedMs();
        const auto limit = static_cast<std::uint64_t>(m_StallTimeoutMs);
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
    CHandleHolder worker;
    {
        CCriticalSectionLock workerLock(m_Shared->m_WorkerLock);
        CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
        if (!m_Shared->m_WorkerThread)
        {
            m_Cancelled = true;
            return;
        }
        if (!m_Complete)
        {
            m_State = StateFailed;
            m_FailureDetail = DetailAborted;
            m_CancelRequested = true;
        }
        ::DuplicateHandle(::GetCurrentProcess(), m_Shared->m_WorkerThread.Get(), ::GetCurrentProcess(),
                          worker.Put(), SYNCHRONIZE, FALSE, 0);
    }
    // The worker takes the worker lock as it ends, so the waits happen without it. Closing the handles
    // breaks a blocked WinInet call on Windows; under Wine it does not, and the time-outs that the
    // worker set on the connection end the call instead.
    for (;;)
    {
        if (worker ? ::WaitForSingleObject(worker.Get(), kAbortWaitMs) != WAIT_TIMEOUT
                   : WaitForWorker(kAbortWaitMs))
            return;
        m_Shared->CloseInternetHandles();
    }
}

std::int64_t CHttpWebRequest::ContentLengthLocked() const
{
    return m_HasContentLength ? m_ContentLength : -1;
}

std::int64_t CHttpWebRequest::GetContentLength() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return ContentLengthLocked();
}

float CHttpWebRequest::ComputeProgressPercent(bool complete, std::int32_t statusCode,
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

float CHttpWebRequest::ProgressLocked() const
{
    return ComputeProgressPercent(m_Complete, m_StatusCode, ContentLengthLocked(), m_ExpectedTotal,
                                  m_BytesReceived);
}

float CHttpWebRequest::GetProgressPercent() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return ProgressLocked();
}

bool CHttpWebRequest::Succeeded() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return ProgressLocked() >= 100.0f && !m_Failed && m_StatusCode >= 200 && m_StatusCode <= 299;
}

bool CHttpWebRequest::EndedShortOnly() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Complete && m_EndedShort && m_FailureDetail == DetailReadFailed && !m_Cancelled &&
           m_StatusCode >= 200 && m_StatusCode <= 299;
}

std::string CHttpWebRequest::GetHeader(const std::string& name) const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    const bool pseudo = name == "Status-Code" || name == "Status-Text";
    std::string value;
    FindHeaderValue(m_HeaderLines, pseudo ? name : name + ": ", value);
    return value;
}

bool CHttpWebRequest::GotResponse() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_GotResponse;
}

std::int32_t CHttpWebRequest::GetStatusCode() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_StatusCode;
}

std::vector<std::string> CHttpWebRequest::GetHeaderLines() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_HeaderLines;
}

std::uint64_t CHttpWebRequest::GetBytesReceived() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_BytesReceived;
}

std::int64_t CHttpWebRequest::GetExpectedTotal() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_ExpectedTotal;
}

std::uint32_t CHttpWebRequest::GetState() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_State;
}

std::uint32_t CHttpWebRequest::GetFailureDetail() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_FailureDetail;
}

bool CHttpWebRequest::IsFailed() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Failed;
}

bool CHttpWebRequest::IsCancelled() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_Cancelled;
}

std::uint32_t CHttpWebRequest::GetErrorCode() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_ErrorCode;
}

std::string CHttpWebRequest::GetFailureText() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_FailureText;
}

std::string CHttpWebRequest::GetCertificateText() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_CertificateText;
}

std::string CHttpWebRequest::GetCertificateSubject() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_CertificateSubject;
}

std::string CHttpWebRequest::GetCertificateIssuer() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_CertificateIssuer;
}

CRefPtr<CMemoryStream> CHttpWebRequest::GetBodyStream() const
{
    CCriticalSectionLock lock(m_Shared->m_FieldsLock);
    return m_ResponseStream;
}

} // namespace OV::System::Net
