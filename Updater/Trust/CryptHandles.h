// Owners for the CryptoAPI handles of the download trust checks.
#pragma once

#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"

#include <wincrypt.h>

namespace OV::Updater::Trust
{

// The two whose release takes a flags argument as well.
inline void ReleaseCryptProvider(HCRYPTPROV provider) noexcept
{
    ::CryptReleaseContext(provider, 0);
}
inline void CloseCertStore(HCERTSTORE store) noexcept
{
    ::CertCloseStore(store, 0);
}

using CCryptProvider = System::Win32::CUniqueAny<HCRYPTPROV, &ReleaseCryptProvider>;
using CCryptHash = System::Win32::CUniqueAny<HCRYPTHASH, &::CryptDestroyHash>;
using CCertStore = System::Win32::CUniqueAny<HCERTSTORE, &CloseCertStore>;
using CCryptMessage = System::Win32::CUniqueAny<HCRYPTMSG, &::CryptMsgClose>;
using CCertContext = System::Win32::CUniqueAny<PCCERT_CONTEXT, &::CertFreeCertificateContext>;
using CCertChain = System::Win32::CUniqueAny<PCCERT_CHAIN_CONTEXT, &::CertFreeCertificateChain>;
using CCrlContext = System::Win32::CUniqueAny<PCCRL_CONTEXT, &::CertFreeCRLContext>;

} // namespace OV::Updater::Trust
