#pragma once

#include "Updater/RunOptions.h"

#include <string>

namespace OV::Updater
{

// One line naming every option and its value, for debug output. Characters outside printable ASCII are
// written as \uXXXX so that the line survives any narrowing on its way to a debugger.
std::wstring DescribeOptions(const RunOptions& options);

} // namespace OV::Updater
