#include "Analytics/Ga4Event.h"

#include "Analytics/ClientId.h"
#include "System/Platform.h"

#include <cstdint>
#include <cstdlib>

namespace OV::Analytics
{

namespace
{

// Three letters, ".", three letters, from the C runtime's generator (which nothing seeds).
std::wstring RandomPageMarker()
{
    std::wstring marker;
    for (int i = 0; i < 7; ++i)
    {
        if (i == 3)
        {
            marker.push_back(L'.');
            continue;
        }
        const int r = std::rand() % 52;
        marker.push_back(r < 26 ? static_cast<wchar_t>(L'a' + r) : static_cast<wchar_t>(L'A' + (r - 26)));
    }
    return marker;
}

// r3 + ((r2 - r1 * 65536) * 32768), modulo 2^32, read as a signed 32-bit number.
std::int64_t RandomSessionId()
{
    const auto r1 = static_cast<std::uint32_t>(std::rand());
    const auto r2 = static_cast<std::uint32_t>(std::rand());
    const auto r3 = static_cast<std::uint32_t>(std::rand());
    const std::uint32_t sid = r3 + ((r2 - r1 * 65536u) * 32768u);
    return static_cast<std::int32_t>(sid);
}

} // namespace

CGa4Event::CGa4Event(const std::wstring& appName, const std::wstring& appVersion, const std::wstring& locale,
                     const std::wstring& visitorId, const std::wstring& gaClientId,
                     const std::wstring& userId, const std::wstring& name)
    : CAnalyticsEvent(name)
{
    SetParam(L"cid", gaClientId.empty() ? DeriveClientId(visitorId) : gaClientId);
    if (!userId.empty())
        SetParam(L"uid", userId);
    SetSecondIntParam(L"_et", 1);
    SetSecondParam(L"ul", locale);
    SetSecondParam(L"sr", std::to_wstring(::GetSystemMetrics(SM_CXSCREEN)) + L"x" +
                              std::to_wstring(::GetSystemMetrics(SM_CYSCREEN)));
    SetIntParam(L"v", 2);
    SetParam(L"_z", L"ccd.v9b");
    SetParam(L"_p", RandomPageMarker());
    SetIntParam(L"seg", 1);
    SetIntParam(L"sid", RandomSessionId());
    SetSecondParam(L"ep.app_name", appName);
    SetSecondParam(L"ep.app_version", appVersion);
}

MeasurementIdData CGa4Event::GetMeasurementIdData() const
{
    return GetStoredMeasurementId();
}

} // namespace OV::Analytics
