#include "Analytics/AnalyticsUploader.h"

#include "Analytics/NamedMutexHold.h"
#include "System/Exception.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Net/Url.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"

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

std::wstring CAnalyticsUploader::BuildUserAgent()
{
    std::wstring agent = L"Mozilla/5.0 (";
    const std::wstring version = System::GetOsVersionShort();
    if (!version.empty())
        agent += L"Windows NT " + version + L"; ";
    if (System::IsWow64())
        agent += L"WOW64";
    agent += L") AppleWebKit/537.36 (KHTML, like Gecko) Chrome/91.0.4472.114 Safari/537.36";
    return agent;
}

CAnalyticsUploader::CAnalyticsUploader(CAnalyticsQueue& queue, const IUploadTarget& target,
                                       HANDLE uploadMutex, std::wstring userAgent)
    : m_Queue(queue), m_Target(target), m_UploadMutex(uploadMutex), m_UserAgent(std::move(userAgent))
{
}

CAnalyticsUploader::~CAnalyticsUploader()
{
    // The body uses this object's members: it must end before they go.
    Stop(INFINITE);
}

bool CAnalyticsUploader::AskToLookAgain()
{
    System::Win32::CCriticalSectionLock hold(m_EndLock);
    if (m_Ending)
        return false;
    m_LookAgain = true;
    return true;
}

bool CAnalyticsUploader::ShouldLookAgain()
{
    System::Win32::CCriticalSectionLock hold(m_EndLock);
    if (!m_LookAgain)
    {
        m_Ending = true;
        return false;
    }
    m_LookAgain = false;
    return true;
}

void CAnalyticsUploader::MarkEnding()
{
    System::Win32::CCriticalSectionLock hold(m_EndLock);
    m_Ending = true;
}

bool CAnalyticsUploader::HasPendingRecords()
{
    for (;;)
    {
        if (m_Queue.GetPendingBytes(GetStopEventHandle()) != 0)
            return true;
        if (IsStopSignalled() || !ShouldLookAgain())
            return false;
    }
}

std::uint32_t CAnalyticsUploader::Execute()
{
    // Most runs queue nothing and find nothing left: they end here, before COM and the network check,
    // so that the run's end never waits for an upload that has nothing to send.
    if (!HasPendingRecords())
    {
        MarkEnding();
        return 0;
    }
    System::Win32::CComInitScope com;
    try
    {
        for (;;)
        {
            std::uint32_t sent = 0;
            const bool online = System::IsNetworkAvailable();
            if (online && !UploadNext(sent))
                break;
            if (WaitForStopSignal(m_Target.GetRetryDelayMs()))
                break;
            // An event queued during that wait had its start refused because this thread still ran: the
            // queue is read once more rather than leaving the event to a later process.
            if (sent == 0 && (!online || !ShouldLookAgain()))
                break;
        }
    }
    catch (...)
    {
        // A failure to start a request ends this upload; its record stays queued for the next one.
    }
    MarkEnding();
    return 0;
}

bool CAnalyticsUploader::UploadNext(std::uint32_t& count)
{
    count = 0;
    if (IsStopSignalled())
        return false;
    // An uploader killed while sending leaves the upload mutex abandoned; its record is still queued (it is
    // removed only after its request), so the next uploader simply carries on.
    CNamedMutexHold hold(m_UploadMutex, GetStopEventHandle(), CNamedMutexHold::Abandoned::TakeOver);
    if (!hold.IsHeld())
        return false;

    std::uint32_t itemCount = 0;
    std::uint32_t endOffset = 0;
    std::string query;
    std::string extra;
    if (!m_Queue.ReadNextItem(itemCount, endOffset, query, extra, GetStopEventHandle()))
        return false;
    count = itemCount;
    if (itemCount == 0)
        return true;
    // Removing a record that went out waits for the queue mutex whatever happens: a stop request must not
    // make it go out again.
    if (query.size() > kMaxUploadQueryLength)
    {
        m_Queue.RemoveItems(endOffset, itemCount);
        return true;
    }

    std::string url = m_Target.GetCollectUrl(itemCount > 1);
    if (!query.empty())
        url += "?" + query;
    std::unique_ptr<System::Net::CHttpWebRequest> request = CreateRequest(url);
    if (!request)
    {
        m_Queue.RemoveItems(endOffset, itemCount);
        return true;
    }
    request->SetUserAgent(OV::WideToAnsi(m_UserAgent));
    m_Target.PrepareRequest(*request, extra);
    request->Start();
    WaitForRequest(*request);
    // Sent once, whatever the answer: no status is examined and the record never goes out twice.
    m_Queue.RemoveItems(endOffset, itemCount);
    request.reset();
    return true;
}

bool CAnalyticsUploader::WaitForRequest(const System::Net::CHttpWebRequest& request)
{
    while (!request.IsComplete())
    {
        if (!WaitForStopSignal(kRequestPollMs))
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
