#include "Analytics/AnalyticsReporter.h"

#include "Analytics/AnalyticsGa4.h"
#include "Analytics/Consent.h"
#include "Analytics/Ga4Event.h"
#include "Analytics/VisitorId.h"
#include "CommonAppLogic/ClientIdentity.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/Synchronization.h"

#include <cstdlib>

namespace OV::Analytics
{

namespace
{

constexpr wchar_t kAppName[] = L"Updater";
constexpr wchar_t kEventName[] = L"Update";
constexpr unsigned int kCodePageUtf8 = 65001;

struct ReporterSlot
{
    System::Win32::CCriticalSection lock;
    System::CRefPtr<CAnalyticsReporter> reporter;
};

// The event's page marker and session id are drawn from rand(); unseeded, every run of every user would
// draw the same ones. Seeded once, on the first composition, which is on the run's main thread.
void SeedRandomOnce()
{
    static const bool seeded = []()
    {
        const auto processId = static_cast<unsigned>(::GetCurrentProcessId());
        std::srand((processId << 16) ^ static_cast<unsigned>(::GetTickCount64()));
        return true;
    }();
    static_cast<void>(seeded);
}

ReporterSlot& Slot()
{
    static ReporterSlot slot;
    return slot;
}

} // namespace

CAnalyticsReporter::CAnalyticsReporter(const std::wstring& dp, const std::wstring& locale,
                                       const std::wstring& product, const std::wstring& appVersion)
    : CAnalyticsReporter(dp, locale, product, appVersion, System::MakeRef<CAnalyticsGa4>())
{
}

CAnalyticsReporter::CAnalyticsReporter(const std::wstring& dp, const std::wstring& locale,
                                       const std::wstring& product, const std::wstring& appVersion,
                                       System::CRefPtr<CAnalyticsBase> analytics)
    : m_Dp(dp), m_Locale(locale), m_Product(product), m_AppVersion(appVersion),
      m_Analytics(std::move(analytics))
{
    m_Analytics->StartUpload();
}

CAnalyticsReporter::~CAnalyticsReporter()
{
    const ULONGLONG start = ::GetTickCount64();
    while (m_Analytics->IsUploading() && m_Analytics->GetPendingBytes() != 0)
    {
        if (::GetTickCount64() - start > kEndWaitMs)
            break;
        ::Sleep(kEndPollMs);
    }
    m_Analytics.Reset(); // the last reference: its destruction ends the upload thread
}

std::string CAnalyticsReporter::ComposeRunEvent(const std::wstring& appVersion, const std::wstring& locale,
                                                const std::wstring& result)
{
    SeedRandomOnce();
    const std::wstring userId =
        OV::MBCSToUtf16_CP(kCodePageUtf8, CommonAppLogic::CClientIdentity::GetUserId());
    CGa4Event event(kAppName, appVersion, locale, GetVisitorId(), GetGaClientId(), userId, kEventName);
    event.SetParam(L"ep.result", result);
    return ComposeQueryString(event);
}

void CAnalyticsReporter::Report(const std::wstring& result, int consentCategory)
{
    if (!IsConsentGiven(consentCategory))
        return;
    m_Analytics->AddItem(ComposeRunEvent(m_AppVersion, m_Locale, result), std::string());
    m_Analytics->StartUpload();
}

void CAnalyticsReporter::ReportResultText(const std::wstring& text)
{
    Report(text, 2);
}

void CAnalyticsReporter::ReportSucceeded()
{
    Report(L"Succeeded", 1);
}

void CAnalyticsReporter::SetCurrent(System::CRefPtr<CAnalyticsReporter> reporter)
{
    ReporterSlot& slot = Slot();
    System::CRefPtr<CAnalyticsReporter> previous;
    {
        System::Win32::CCriticalSectionLock hold(slot.lock);
        previous = std::move(slot.reporter);
        slot.reporter = std::move(reporter);
    }
    // A replaced reporter ends outside the lock: its end may wait for the upload.
}

System::CRefPtr<CAnalyticsReporter> CAnalyticsReporter::GetCurrent()
{
    ReporterSlot& slot = Slot();
    System::Win32::CCriticalSectionLock hold(slot.lock);
    return slot.reporter;
}

void CAnalyticsReporter::DropCurrent()
{
    SetCurrent(nullptr);
}

} // namespace OV::Analytics
