#include "Analytics/MeasurementId.h"

namespace OV::Analytics
{

namespace
{
// Both come from the build (cmake/HiddenText.cmake), so the plain text never stands in the program.
constexpr MeasurementIdData kStored = {OV_GA4_MID_WORDS};
constexpr MeasurementIdData kKeys = {OV_GA4_MID_KEYS};
} // namespace

MeasurementIdData GetStoredMeasurementId()
{
    return kStored;
}

std::string RevealMeasurementId(const MeasurementIdData& data)
{
    std::string text;
    text.reserve(data.size() * 4);
    for (std::size_t i = 0; i < data.size(); ++i)
    {
        const std::uint32_t word = data[i] + kKeys[i];
        for (int shift = 0; shift < 32; shift += 8)
            text.push_back(static_cast<char>((word >> shift) & 0xFF));
    }
    return text;
}

} // namespace OV::Analytics
