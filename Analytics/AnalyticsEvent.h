#pragma once

#include "Analytics/MeasurementId.h"
#include "System/Object.h"

#include <cstdint>
#include <map>
#include <string>

namespace OV::Analytics
{

// One analytics event: a name and typed parameters. Every map is ordered by key in UTF-16 code units,
// which is the order in which the parameters go into the hit.
class CAnalyticsEvent : public System::CObject
{
public:
    using StringParams = std::map<std::wstring, std::wstring>;
    using IntParams = std::map<std::wstring, std::int64_t>;
    using FlagParams = std::map<std::wstring, bool>;

    ~CAnalyticsEvent() override = default;

    // The stored form of the measurement id the event is sent to.
    virtual MeasurementIdData GetMeasurementIdData() const = 0;

    void SetParam(const std::wstring& key, const std::wstring& text) { m_Params[key] = text; }
    void SetIntParam(const std::wstring& key, std::int64_t value) { m_IntParams[key] = value; }
    void SetFlagParam(const std::wstring& key, bool value) { m_FlagParams[key] = value; }
    void SetSecondParam(const std::wstring& key, const std::wstring& text) { m_SecondParams[key] = text; }
    void SetSecondIntParam(const std::wstring& key, std::int64_t value) { m_SecondIntParams[key] = value; }

    const StringParams& GetParams() const { return m_Params; }
    const IntParams& GetIntParams() const { return m_IntParams; }
    const FlagParams& GetFlagParams() const { return m_FlagParams; }
    const std::wstring& GetName() const { return m_Name; }
    const StringParams& GetSecondParams() const { return m_SecondParams; }
    const IntParams& GetSecondIntParams() const { return m_SecondIntParams; }

    // The extra text of the event's record, sent as a request body when not empty. No event of this
    // program carries one.
    std::string GetPostBody() const { return std::string(); }

protected:
    explicit CAnalyticsEvent(std::wstring name) : m_Name(std::move(name)) {}

private:
    StringParams m_Params;
    IntParams m_IntParams;
    FlagParams m_FlagParams;
    std::wstring m_Name;
    StringParams m_SecondParams;
    IntParams m_SecondIntParams;
};

// The hit of an event: "tid", "en", then the string, integer and flag parameters, then the second string
// and second integer parameters, each map in key order, keys and values escaped (UTF-8, then the client
// identity store's query escaping).
std::string ComposeQueryString(const CAnalyticsEvent& event);

} // namespace OV::Analytics
