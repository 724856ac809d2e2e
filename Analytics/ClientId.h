#pragma once

#include <cstdint>
#include <string>

namespace OV::Analytics
{

// A client id for a visitor without a GA cookie: the number of the visitor id's last eight hexadecimal
// digits with its highest bit cleared, ".", and the seconds from 1970 to the first of January of the
// current UTC year (or of the year whose start is given).
std::wstring DeriveClientId(const std::wstring& visitorId);
std::wstring DeriveClientId(const std::wstring& visitorId, std::int64_t yearStartSeconds);

// Seconds from 1 January 1970 to 1 January of the current UTC year, 00:00.
std::int64_t CurrentYearStartSeconds();

} // namespace OV::Analytics
