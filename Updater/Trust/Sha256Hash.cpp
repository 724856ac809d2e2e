#include "Updater/Trust/Sha256Hash.h"

#include <algorithm>

namespace OV::Updater::Trust
{

bool CSha256Hash::Start()
{
    if (!::CryptAcquireContextW(m_Provider.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    return ::CryptCreateHash(m_Provider.Get(), CALG_SHA_256, 0, 0, m_Hash.Put()) != FALSE;
}

bool CSha256Hash::Add(const void* bytes, std::size_t count)
{
    // CryptHashData takes a 32-bit count: a larger buffer (only possible in a 64-bit process) goes in
    // several calls.
    constexpr std::size_t kLargestPiece = 0x40000000;
    const BYTE* next = static_cast<const BYTE*>(bytes);
    do
    {
        const std::size_t piece = std::min(count, kLargestPiece);
        if (!::CryptHashData(m_Hash.Get(), next, static_cast<DWORD>(piece), 0))
            return false;
        next += piece;
        count -= piece;
    } while (count > 0);
    return true;
}

bool CSha256Hash::Finish(Sha256Digest& digest)
{
    DWORD length = static_cast<DWORD>(digest.size());
    return ::CryptGetHashParam(m_Hash.Get(), HP_HASHVAL, digest.data(), &length, 0) &&
           length == digest.size();
}

} // namespace OV::Updater::Trust
