#pragma once

#include <cstddef>
#include <cstdint>

namespace OV::Analytics
{

// The CRC-32 of zlib and PNG (reflected 0x04C11DB7, initial value all ones, final complement). The table
// is built once per process, on first use.
std::uint32_t Crc32(const void* data, std::size_t size);

} // namespace OV::Analytics
