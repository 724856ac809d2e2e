#pragma once

#include "Updater/RunOptions.h"

#include <string>
#include <vector>

namespace OV::Updater
{

// One short line per option, "name=value" with text values in brackets, for debug output. Characters
// outside printable ASCII are written as \uXXXX so that a line survives any narrowing on its way to a
// debugger.
std::vector<std::wstring> DescribeOptions(const RunOptions& options);

} // namespace OV::Updater
