#include "Analytics/ClientId.h"

#include "System/Platform.h"

namespace OV::Analytics
{

namespace
{

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

} // namespace

std::wstring DeriveClientId(const std::wstring& visitorId, std::int64_t yearStartSeconds)
{
    std::uint32_t number = 0;
    int digits = 0;
    for (auto it = visitorId.rbegin(); it != visitorId.rend() && digits < 8; ++it)
    {
        const int value = HexDigitValue(*it);
        if (value < 0)
            continue;
        number |= static_cast<std::uint32_t>(value) << (4 * digits);
        ++digits;
    }
    number &= 0x7FFFFFFFu;
    return std::to_wstring(number) + L"." + std::to_wstring(yearStartSeconds);
}

std::wstring DeriveClientId(const std::wstring& visitorId)
{
    return DeriveClientId(visitorId, CurrentYearStartSeconds());
}

std::int64_t CurrentYearStartSeconds()
{
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    SYSTEMTIME yearStart = {};
    yearStart.wYear = now.wYear;
    yearStart.wMonth = 1;
    yearStart.wDay = 1;
    FILETIME file = {};
    if (!::SystemTimeToFileTime(&yearStart, &file))
        return 0;
    ULARGE_INTEGER ticks = {};
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<std::int64_t>(ticks.QuadPart / kTicksPerSecond - kSecondsFrom1601To1970);
}

} // namespace OV::Analytics
