#pragma once

#include <cstddef>
#include <cstdint>

namespace OV::System::Net::MultiStreamDownload
{

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial value and final complement all ones):
// the checksum of the download state files.
std::uint32_t Crc32(const void* data, std::size_t size);

} // namespace OV::System::Net::MultiStreamDownload
