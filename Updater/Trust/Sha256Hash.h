#pragma once

#include "Updater/Trust/CryptHandles.h"
#include "Updater/Trust/FileHash.h"

#include <cstddef>

namespace OV::Updater::Trust
{

// One SHA-256 computation over CryptoAPI's AES provider, fed in pieces. Every step reports failure
// as false; the provider and hash are released when the object goes.
class CSha256Hash
{
public:
    bool Start();
    bool Add(const void* bytes, std::size_t count);
    bool Finish(Sha256Digest& digest);

private:
    CCryptProvider m_Provider;
    CCryptHash m_Hash;
};

} // namespace OV::Updater::Trust
