#pragma once

#include "System/KnownFolders.h" // GetProgramFilesX86Folder belongs to this set as well
#include "System/Platform.h"
#include "System/Win32/Elevation.h"

#include <cstdint>
#include <string>

namespace OV::System
{

// Questions to Windows about the machine, the user, the process and the file system. None keeps state
// and none throws: a refusal comes back as empty text, false or all bits set.

// "major.minor.build.spMajor.spMinor", e.g. "10.0.19045.0.0".
std::wstring GetOsVersionText();
// "major.minor", e.g. "10.0".
std::wstring GetOsVersionShort();
bool IsWow64();
// The ISO 3166 two-letter code of the user's location, e.g. "US".
std::wstring GetUserCountryCode();
// True when the Network List Manager reports the internet or a local network. The calling thread must
// have initialised COM.
bool IsNetworkAvailable();
// Null means the current process.
using Win32::IsProcessElevated;
// The folder of the local server registered for a COM class (HKCR\CLSID\{...}\LocalServer32).
bool GetComServerFolder(const CLSID& clsid, std::wstring& folder);
// A new random GUID as 36 lower-case characters, 8-4-4-4-12, without braces.
std::wstring NewGuidText();
// The running program's full path (cut at 260 characters).
std::wstring GetModulePath();
// The running program's folder, normalised (lower case) and ending in "\".
std::wstring GetModuleDirectory();
// True for an existing file; false for a directory or a missing path.
bool FileExists(const std::wstring& path);
// The size of a file, measurable even while another process writes it; all bits set when unknown.
std::uint64_t GetFileSize(const std::wstring& path);

} // namespace OV::System
