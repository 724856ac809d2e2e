// The upload half of CAnalyticsBase: the thread that sends the queue's records, one per request.
#include "Analytics/AnalyticsBase.h"

#include "Analytics/NamedMutexHold.h"
#include "System/Exception.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Net/Url.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"

#include <process.h>

#include <memory>

namespace OV::Analytics
{

namespace
{

constexpr DWORD kRequestPollMs = 20;

// The request for a hit, or null when its address cannot be requested (the record is then dropped).
std::unique_ptr<System::Net::CHttpWebRequest> CreateRequest(const std::string& url)
{
    try
    {
        System::Net::Url::Parse(url);
        return std::make_unique<System::Net::CHttpWebRequest>(url);
    }
    catch (const System::CException&)
    {
        return nullptr;
    }
}

} // namespace

void CAnalyticsBase::PrepareRequest(System::Net::CHttpWebRequest& request, const std::string& extraText) const
{
    if (extraText.empty())
        return;
    request.SetVerb("POST");
    request.SetRequestBody(extraText.data(), extraText.size());
}

bool CAnalyticsBase::StartUpload()
{
    System::Win32::CCriticalSectionLock hold(m_Lock);
    if (m_Uploading)
        return false;
    // A thread that ended by itself has cleared m_Uploading as its last use of this object; collect it
    // before starting the next one.
    if (m_UploadThread)
    {
        ::WaitForSingleObject(m_UploadThread.Get(), INFINITE);
        m_UploadThread.Reset();
    }
    m_Uploading = true;
    // The lock stays held while the handle is stored, so the new thread cannot end before it is known.
    const std::uintptr_t thread =
        ::_beginthreadex(nullptr, 0, &CAnalyticsBase::UploadThreadMain, this, 0, nullptr);
    if (thread == 0)
    {
        m_Uploading = false;
        return false;
    }
    m_UploadThread.Reset(reinterpret_cast<HANDLE>(thread));
    return true;
}

void CAnalyticsBase::StopUpload()
{
    System::Win32::CHandleHolder thread;
    {
        System::Win32::CCriticalSectionLock hold(m_Lock);
        if (!m_UploadThread)
            return;
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), m_UploadThread.Get(), ::GetCurrentProcess(), &copy,
                               SYNCHRONIZE, FALSE, 0))
            copy = nullptr;
        thread.Reset(copy);
        m_StopRequested = true;
        ::SetEvent(m_StopEvent.Get());
    }
    if (thread)
        ::WaitForSingleObject(thread.Get(), INFINITE);

    System::Win32::CCriticalSectionLock hold(m_Lock);
    if (thread)
        m_UploadThread.Reset();
    m_Uploading = false;
    m_StopRequested = false;
    // Nobody is left to consume a stop that the thread did not see; the next queue operation must not.
    ::ResetEvent(m_StopEvent.Get());
}

bool CAnalyticsBase::IsUploading() const
{
    System::Win32::CCriticalSectionLock hold(m_Lock);
    return m_Uploading;
}

unsigned __stdcall CAnalyticsBase::UploadThreadMain(void* analytics)
{
    static_cast<CAnalyticsBase*>(analytics)->RunUploadThread();
    return 0;
}

void CAnalyticsBase::RunUploadThread() noexcept
{
    {
        System::Win32::CComInitScope com;
        try
        {
            for (;;)
            {
                std::uint32_t sent = 0;
                if (System::IsNetworkAvailable() && !UploadNext(sent))
                    break;
                const DWORD waited = ::WaitForSingleObject(m_StopEvent.Get(), GetRetryDelayMs());
                if (waited != WAIT_TIMEOUT || sent == 0 || m_StopRequested)
                    break;
            }
        }
        catch (...)
        {
            // A failure to start a request ends this upload; its record stays queued for the next one.
        }
    }
    System::Win32::CCriticalSectionLock hold(m_Lock);
    m_Uploading = false;
}

bool CAnalyticsBase::UploadNext(std::uint32_t& count)
{
    count = 0;
    if (m_StopRequested)
        return false;
    // An uploader killed while sending leaves the upload mutex abandoned; its record is still queued (it is
    // removed only after its request), so the next uploader simply carries on.
    CNamedMutexHold hold(m_UploadMutex.Get(), m_StopEvent.Get(), CNamedMutexHold::Abandoned::TakeOver);
    if (!hold.IsHeld())
        return false;

    std::uint32_t itemCount = 0;
    std::uint32_t endOffset = 0;
    std::string query;
    std::string extra;
    if (!ReadNextItem(itemCount, endOffset, query, extra))
        return false;
    count = itemCount;
    if (itemCount == 0)
        return true;
    if (query.size() > kMaxUploadQueryLength)
    {
        RemoveSentItems(endOffset, itemCount);
        return true;
    }

    std::string url = GetCollectUrl(itemCount > 1);
    if (!query.empty())
        url += "?" + query;
    std::unique_ptr<System::Net::CHttpWebRequest> request = CreateRequest(url);
    if (!request)
    {
        RemoveSentItems(endOffset, itemCount);
        return true;
    }
    request->SetUserAgent(OV::WideToAnsi(m_UserAgent));
    PrepareRequest(*request, extra);
    request->Start();
    WaitForRequest(*request);
    // Sent once, whatever the answer: no status is examined and the record never goes out twice.
    RemoveSentItems(endOffset, itemCount);
    request.reset();
    return true;
}

bool CAnalyticsBase::WaitForRequest(const System::Net::CHttpWebRequest& request)
{
    while (!request.IsComplete())
    {
        if (::WaitForSingleObject(m_StopEvent.Get(), kRequestPollMs) != WAIT_OBJECT_0 && !m_StopRequested)
            continue;
        // Stopping: a request already on its way usually ends within moments; abandoning it would leave the
        // hit's fate unknown.
        for (DWORD waited = 0; waited < kStopGraceMs && !request.IsComplete(); waited += kRequestPollMs)
            ::Sleep(kRequestPollMs);
        return request.IsComplete();
    }
    return true;
}

} // namespace OV::Analytics
