#include "Analytics/AnalyticsEvent.h"

#include "CommonAppLogic/ClientIdentity.h"
#include "System/String/AnsiWide.h"

namespace OV::Analytics
{

namespace
{

constexpr unsigned int kCodePageUtf8 = 65001;

std::string Escape(const std::wstring& text)
{
    return CommonAppLogic::CClientIdentity::EscapeQueryText(OV::Utf16ToMBCS_CP(kCodePageUtf8, text));
}

void AppendStrings(std::string& query, const CAnalyticsEvent::StringParams& params)
{
    for (const auto& [key, value] : params)
        query += "&" + Escape(key) + "=" + Escape(value);
}

void AppendIntegers(std::string& query, const CAnalyticsEvent::IntParams& params)
{
    for (const auto& [key, value] : params)
        query += "&" + Escape(key) + "=" + std::to_string(value);
}

} // namespace

std::string ComposeQueryString(const CAnalyticsEvent& event)
{
    std::string query = "tid=" + RevealMeasurementId(event.GetMeasurementIdData());
    query += "&en=" + Escape(event.GetName());
    AppendStrings(query, event.GetParams());
    AppendIntegers(query, event.GetIntParams());
    for (const auto& [key, value] : event.GetFlagParams())
        query += "&" + Escape(key) + "=" + (value ? "1" : "0");
    AppendStrings(query, event.GetSecondParams());
    AppendIntegers(query, event.GetSecondIntParams());
    return query;
}

} // namespace OV::Analytics
