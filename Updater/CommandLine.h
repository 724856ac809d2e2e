#pragma once

#include "Updater/RunOptions.h"

#include <string>
#include <vector>

namespace OV::Updater
{

// Reads the process command line and its argument vector. Never fails and never reports anything;
// unknown arguments are ignored.
RunOptions ParseCommandLine();

// The same rules over a given raw command line and argument vector (argument 0 is the program).
RunOptions ParseCommandLine(const std::wstring& commandLine, const std::vector<std::wstring>& arguments);

} // namespace OV::Updater
