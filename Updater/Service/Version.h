#pragma once

#include "ProductVersion.h"

#include <string>

namespace OV::Updater::Service
{

// The updater's own version, the one its version resource and manifest carry.
constexpr char kUpdaterVersion[] = OV_VERSION_TEXT;
constexpr wchar_t kUpdaterVersionW[] = L"" OV_VERSION_TEXT;
// The product token of the update query's user agent and the analytics application name.
constexpr char kProductToken[] = "Updater";
// The user agent of the installer download.
#define OV_DOWNLOAD_USER_AGENT "Mozilla/4.0 (compatible; MSIE 5.0; Updater " OV_VERSION_TEXT "; CDA 6.0)"
constexpr char kDownloadUserAgent[] = OV_DOWNLOAD_USER_AGENT;
constexpr wchar_t kDownloadUserAgentW[] = L"" OV_DOWNLOAD_USER_AGENT;
#undef OV_DOWNLOAD_USER_AGENT

// The product version of a file's version resource as "major.minor.build.revision" in decimal; "0" when the
// path is empty, the file is missing or it carries no version resource.
std::string GetFileProductVersion(const std::wstring& path);

} // namespace OV::Updater::Service
