#pragma once

#include "System/Platform.h"

#include <string>

namespace OV::System
{

// Shell folders as paths without a trailing separator; empty text when the shell refuses.
std::wstring GetRoamingAppDataFolder(HANDLE token = nullptr);
std::wstring GetProgramDataFolder();
std::wstring GetProgramFilesX86Folder();

// 0 "Orvane", 1 "Orvane\Orvane Games\App", 2 "Orvane\Orvane Games\Integration"; empty otherwise.
std::wstring GetMakerFolder(int index);
std::wstring GetMakerFolderUnder(const std::wstring& base, int index);

} // namespace OV::System
