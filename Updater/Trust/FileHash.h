// SHA-256 of the downloaded installer and its comparison with the digest the update service announced.
#pragma once

#include "System/Io/Stream/Stream.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace OV::Updater::Trust
{

using Sha256Digest = std::array<unsigned char, 32>;

// Digest of a readable stream from its position to its end, read in pieces of 8192 bytes. False when
// CryptoAPI cannot compute it or the stream cannot be read to its end (not readable, or a read that
// failed before the end of a seekable stream): a compute failure, never a wrong digest.
bool Sha256OfStream(System::IO::Stream::CStream& stream, Sha256Digest& digest);

class CHeldFile;

// Digest of a held file from its start to its end; false when it cannot be computed or read.
bool Sha256OfHeldFile(const CHeldFile& file, Sha256Digest& digest);

// Digest of a byte buffer in memory; false when CryptoAPI cannot compute it.
bool Sha256OfBuffer(const void* bytes, std::size_t count, Sha256Digest& digest);

// 64 upper-case hexadecimal digits, high nibble first.
std::string DigestToHex(const Sha256Digest& digest);

// Equal length and equal characters ignoring ASCII case: the service may announce either case, but
// nothing else (no separators, braces or prefix).
bool HashTextEquals(std::string_view computed, std::string_view announced);

} // namespace OV::Updater::Trust
