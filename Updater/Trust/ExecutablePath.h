// What may be started as a program by an elevated process: a plain ".exe" file on a local drive.
#pragma once

#include <string_view>

namespace OV::Updater::Trust
{

// A file name ending in ".exe" (any case) with no path, drive, stream (":"), wildcard, quote or control
// character, that is not a reserved device name such as CON, NUL or COM1 (with or without extension).
bool IsPlainExecutableName(std::wstring_view name);

// "X:\folder\name.exe": a drive letter and plain path components (a doubled separator counts as one),
// the last a plain executable name. No
// device, UNC or "\\?\" path, no URL, no "." or ".." component, no alternate data stream.
bool IsPlainLocalExecutablePath(std::wstring_view path);

} // namespace OV::Updater::Trust
