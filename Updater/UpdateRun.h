#pragma once

#include <cstdint>

namespace OV::Updater
{

// One invocation of the updater, from its options to its exit code.
std::int32_t UpdateRun();

} // namespace OV::Updater
