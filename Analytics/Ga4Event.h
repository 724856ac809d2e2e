#pragma once

#include "Analytics/AnalyticsEvent.h"

#include <string>

namespace OV::Analytics
{

// A GA4 event with the standard parameters of every hit: client id, user id, locale, screen size,
// protocol version, session and page markers, application name and version.
class CGa4Event : public CAnalyticsEvent
{
public:
    // An empty gaClientId is replaced by the client id derived from the visitor id; an empty userId
    // leaves "uid" out.
    CGa4Event(const std::wstring& appName, const std::wstring& appVersion, const std::wstring& locale,
              const std::wstring& visitorId, const std::wstring& gaClientId, const std::wstring& userId,
              const std::wstring& name);

    MeasurementIdData GetMeasurementIdData() const override;
};

} // namespace OV::Analytics
