#pragma once

#include <string>

namespace OV::Updater::Service
{

// The updater's own version; the version resource carries the same numbers.
constexpr char kUpdaterVersion[] = "1.1.1.93";
constexpr wchar_t kUpdaterVersionW[] = L"1.1.1.93";
// The product token of the update query's user agent and the analytics application name.
constexpr char kProductToken[] = "Updater";
// The user agent of the multi-stream installer download.
constexpr char kDownloadUserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93; CDA 6.0)";

// The product version of a file's version resource as "major.minor.build.revision" in decimal; "0" when the
// path is empty, the file is missing or it carries no version resource.
std::string GetFileProductVersion(const std::wstring& path);

} // namespace OV::Updater::Service
