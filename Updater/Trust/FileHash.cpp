#include "Updater/Trust/FileHash.h"

#include "System/Exception.h"
#include "Updater/Trust/HeldFile.h"
#include "Updater/Trust/Sha256Hash.h"

#include <cctype>
#include <cstdint>
#include <vector>

namespace OV::Updater::Trust
{

bool Sha256OfStream(System::IO::Stream::CStream& stream, Sha256Digest& digest)
{
    constexpr std::int32_t kPieceSize = 8192;
    if (!stream.CanRead())
        return false;
    CSha256Hash hash;
    if (!hash.Start())
        return false;
    try
    {
        std::vector<unsigned char> buffer(kPieceSize);
        for (;;)
        {
            const std::int32_t count = stream.Read(buffer.data(), kPieceSize);
            if (count <= 0)
                break;
            if (!hash.Add(buffer.data(), static_cast<std::size_t>(count)))
                return false;
            if (count < kPieceSize)
                break;
        }
        // A failed read returns 0 like the end does; only the position tells them apart.
        if (stream.CanSeek() && stream.GetPosition() != stream.GetLength())
            return false;
    }
    catch (const System::CException&)
    {
        return false;
    }
    return hash.Finish(digest);
}

bool Sha256OfHeldFile(const CHeldFile& file, Sha256Digest& digest)
{
    CSha256Hash hash;
    return hash.Start() &&
           file.ReadAll([&hash](const BYTE* bytes, DWORD count) { return hash.Add(bytes, count); }) &&
           hash.Finish(digest);
}

bool Sha256OfBuffer(const void* bytes, std::size_t count, Sha256Digest& digest)
{
    CSha256Hash hash;
    return hash.Start() && hash.Add(bytes, count) && hash.Finish(digest);
}

std::string DigestToHex(const Sha256Digest& digest)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest)
    {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

bool HashTextEquals(std::string_view computed, std::string_view announced)
{
    if (computed.size() != announced.size())
        return false;
    for (std::size_t i = 0; i < computed.size(); ++i)
    {
        if (std::toupper(static_cast<unsigned char>(computed[i])) !=
            std::toupper(static_cast<unsigned char>(announced[i])))
            return false;
    }
    return true;
}

} // namespace OV::Updater::Trust
