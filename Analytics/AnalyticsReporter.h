#pragma once

#include "Analytics/AnalyticsBase.h"
#include "System/Object.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>

namespace OV::Analytics
{

// The run's analytics reporter: sends the run's "Update" events through the GA4 queue and, when its last
// reference goes, waits up to 5 s for the queue to drain. One reporter lives in a process-wide slot from
// which the download and hand-off stages reach it. The run hands it the program's version and the
// outcome names, so analytics knows nothing of the layer above it.
class CAnalyticsReporter : public System::CReferenceCounted
{
public:
    static constexpr std::uint32_t kEndWaitMs = 5000;
    static constexpr std::uint32_t kEndPollMs = 100;

    // Attaches the GA4 queue and starts its upload, so that events of earlier runs go out.
    CAnalyticsReporter(const std::wstring& dp, const std::wstring& locale, const std::wstring& product,
                       const std::wstring& appVersion);
    // The same over a given queue (tools and tests use a queue of their own).
    CAnalyticsReporter(const std::wstring& dp, const std::wstring& locale, const std::wstring& product,
                       const std::wstring& appVersion, System::CRefPtr<CAnalyticsBase> analytics);
    // Waits while the upload runs and records are pending, at most kEndWaitMs, then ends the upload.
    ~CAnalyticsReporter() override;

    // "ep.result" = the text (an outcome's name or a result text of a stage); needs consent category 2.
    void ReportResultText(const std::wstring& text);
    // "ep.result" = "Succeeded"; needs consent category 1.
    void ReportSucceeded();

    // The hit of the run's event with that program version, result and locale (what a report queues):
    // identifiers are read anew for each event.
    static std::string ComposeRunEvent(const std::wstring& appVersion, const std::wstring& locale,
                                       const std::wstring& result);

    const std::wstring& GetLocale() const { return m_Locale; }
    CAnalyticsBase& GetAnalytics() const { return *m_Analytics; }

    // The process-wide slot (one counted reference).
    static void SetCurrent(System::CRefPtr<CAnalyticsReporter> reporter);
    static System::CRefPtr<CAnalyticsReporter> GetCurrent();
    // Empties the slot; the reporter ends when no other reference is left.
    static void DropCurrent();

private:
    void Report(const std::wstring& result, int consentCategory);

    std::wstring m_Dp;
    std::wstring m_Locale;
    std::wstring m_Product;
    std::wstring m_AppVersion;
    System::CRefPtr<CAnalyticsBase> m_Analytics;
};

} // namespace OV::Analytics
