#include "System/Win32/ShellStart.h"

#include <shellapi.h>

namespace OV::System::Win32
{

ShellStarted ShellStart(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder,
                        ULONG mask)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = mask;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    ShellStarted result;
    result.started = ::ShellExecuteExW(&info) != FALSE;
    if (result.started)
        result.process.Reset(info.hProcess);
    return result;
}

} // namespace OV::System::Win32
