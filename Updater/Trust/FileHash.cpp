#include "Updater/Trust/FileHash.h"

#include "Updater/Trust/Sha256Hash.h"

#include <cctype>

namespace OV::Updater::Trust
{

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
