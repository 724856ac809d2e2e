#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::System::Win32
{
class CThread;
}

namespace OV::System::Net::MultiStreamDownload
{

// Opens a file of the download (state files, cache file) with CreateFileW, retrying a failed open up to
// 10 attempts in all with waits of 2*n*n ms (8 to 200 ms, ~768 ms in all), because another thread or
// process of the same download may hold it open exclusively for a moment. With a stop owner the waits end
// early when that thread is asked to stop, which counts as a failed open. Returns an invalid holder on
// failure, with the last error of the final attempt (ERROR_OPERATION_ABORTED when cut short by a stop).
Win32::CHandleHolder OpenWithRetries(const std::wstring& path, DWORD access, DWORD shareMode,
                                     DWORD disposition, Win32::CThread* stopOwner);

} // namespace OV::System::Net::MultiStreamDownload
