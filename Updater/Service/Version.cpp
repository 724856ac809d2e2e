#include "Updater/Service/Version.h"

#include "System/Platform.h"

#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace OV::Updater::Service
{

namespace
{
constexpr char kUnknownVersion[] = "0";
} // namespace

std::string GetFileProductVersion(const std::wstring& path)
{
    if (path.empty() || !::PathFileExistsW(path.c_str()))
        return kUnknownVersion;

    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return kUnknownVersion;

    std::vector<BYTE> data(size, 0);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return kUnknownVersion;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return kUnknownVersion;

    char text[64] = {};
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(fixed->dwProductVersionMS)),
                  static_cast<unsigned>(LOWORD(fixed->dwProductVersionMS)),
                  static_cast<unsigned>(HIWORD(fixed->dwProductVersionLS)),
                  static_cast<unsigned>(LOWORD(fixed->dwProductVersionLS)));
    return text;
}

} // namespace OV::Updater::Service
