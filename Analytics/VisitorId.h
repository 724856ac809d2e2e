#pragma once

#include "System/Platform.h"

#include <string>

namespace OV::Analytics
{

// The visitor id of the user: the "VisitorID" of section "Analytics" in "Orvane\Orvane.ini" of the
// roaming application-data folder, created as a new GUID text on first use. Within a process it is read
// from the file at most once. `token` is the user token for the folder; every caller passes none.
std::wstring GetVisitorId(HANDLE token = nullptr);
// Stores the id in the process's cache and in the file; a failed save keeps it in the cache.
void SetVisitorId(const std::wstring& id, HANDLE token = nullptr);

} // namespace OV::Analytics
