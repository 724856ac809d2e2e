// Owners for the CryptoAPI handles of the download trust checks.
#pragma once

#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"

#include <wincrypt.h>

namespace OV::Updater::Trust
{

struct CryptProviderTraits
{
    using Type = HCRYPTPROV;
    static Type Invalid() { return 0; }
    static bool IsValid(Type provider) { return provider != 0; }
    static void Close(Type provider) { ::CryptReleaseContext(provider, 0); }
};

struct CryptHashTraits
{
    using Type = HCRYPTHASH;
    static Type Invalid() { return 0; }
    static bool IsValid(Type hash) { return hash != 0; }
    static void Close(Type hash) { ::CryptDestroyHash(hash); }
};

struct CertStoreTraits
{
    using Type = HCERTSTORE;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type store) { return store != nullptr; }
    static void Close(Type store) { ::CertCloseStore(store, 0); }
};

struct CryptMessageTraits
{
    using Type = HCRYPTMSG;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type message) { return message != nullptr; }
    static void Close(Type message) { ::CryptMsgClose(message); }
};

struct CertContextTraits
{
    using Type = PCCERT_CONTEXT;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type certificate) { return certificate != nullptr; }
    static void Close(Type certificate) { ::CertFreeCertificateContext(certificate); }
};

struct CertChainTraits
{
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type chain) { return chain != nullptr; }
    static void Close(Type chain) { ::CertFreeCertificateChain(chain); }
};

struct CrlContextTraits
{
    using Type = PCCRL_CONTEXT;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type crl) { return crl != nullptr; }
    static void Close(Type crl) { ::CertFreeCRLContext(crl); }
};

using CCryptProvider = System::Win32::CUniqueHandle<CryptProviderTraits>;
using CCryptHash = System::Win32::CUniqueHandle<CryptHashTraits>;
using CCertStore = System::Win32::CUniqueHandle<CertStoreTraits>;
using CCryptMessage = System::Win32::CUniqueHandle<CryptMessageTraits>;
using CCertContext = System::Win32::CUniqueHandle<CertContextTraits>;
using CCertChain = System::Win32::CUniqueHandle<CertChainTraits>;
using CCrlContext = System::Win32::CUniqueHandle<CrlContextTraits>;

} // namespace OV::Updater::Trust
