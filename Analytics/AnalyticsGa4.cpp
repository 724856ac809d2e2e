#include "Analytics/AnalyticsGa4.h"

namespace OV::Analytics
{

CAnalyticsGa4::CAnalyticsGa4() : CAnalyticsBase(kDataFileName) {}

CAnalyticsGa4::CAnalyticsGa4(const std::wstring& dataFileName) : CAnalyticsBase(dataFileName) {}

CAnalyticsGa4::~CAnalyticsGa4()
{
    StopUpload();
}

std::string CAnalyticsGa4::GetCollectUrl(bool /*multiple*/) const
{
    return std::string("https://") + OV_GA4_COLLECT_HOST + "/g/collect";
}

std::uint32_t CAnalyticsGa4::GetRetryDelayMs() const
{
    return 1000;
}

} // namespace OV::Analytics
