#pragma once

#include "Analytics/AnalyticsBase.h"

namespace OV::Analytics
{

// The GA4 queue: "OVAnalyticsForGA4.dat", sent to "https://<collection host>/g/collect" one hit per second.
class CAnalyticsGa4 : public CAnalyticsBase
{
public:
    static constexpr wchar_t kDataFileName[] = L"OVAnalyticsForGA4.dat";

    CAnalyticsGa4();
    // A queue of another name beside it (its own file and mutexes), for tools and tests.
    explicit CAnalyticsGa4(const std::wstring& dataFileName);
    // The upload thread calls the overrides below, so it must end before this part of the object goes.
    ~CAnalyticsGa4() override;

    std::string GetCollectUrl(bool multiple) const override;
    std::uint32_t GetRetryDelayMs() const override;
};

} // namespace OV::Analytics
