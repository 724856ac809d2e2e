#include "Analytics/Crc32.h"

#include <array>

namespace OV::Analytics
{

namespace
{

using CrcTable = std::array<std::uint32_t, 256>;

CrcTable BuildTable()
{
    CrcTable table{};
    for (std::uint32_t n = 0; n < table.size(); ++n)
    {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

} // namespace

std::uint32_t Crc32(const void* data, std::size_t size)
{
    // A function-local static is built exactly once, also when threads race to the first call.
    static const CrcTable table = BuildTable();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace OV::Analytics
