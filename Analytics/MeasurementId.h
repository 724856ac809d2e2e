#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace OV::Analytics
{

// The GA4 measurement id as the program stores it: three words that give the 12 characters (little-endian,
// four per word) only once a fixed key is added to each.
using MeasurementIdData = std::array<std::uint32_t, 3>;

// The stored form of the measurement id this program was built with.
MeasurementIdData GetStoredMeasurementId();
// The 12 characters behind a stored form.
std::string RevealMeasurementId(const MeasurementIdData& data);

} // namespace OV::Analytics
