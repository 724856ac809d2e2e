// Runs the download trust checks on one file and prints what they found, for the end-to-end tests.
//
// TrustCheck signature <path>
//   signed: true|false          IsFileOrvaneSigned(path)
//   signers: N                  signers in the first certificate table entry (-1: no readable entry)
//   maker-signer: N             index of the maker's signer (-1: none)
// TrustCheck chain <path>       the two verdicts inside IsFileOrvaneSigned, apart:
//   maker-signer: N
//   file-trust: true|false      VerifyFileTrust(path, N)
//   chain-status: 0xXXXXXXXX    CERT_TRUST error bits of the signer's chain (or "none")
//   crl-check: true|false       AreSignerCrlsClean: every certificate checked against its issuer's CRL
// Wine's chain engine records a revoked certificate as good after its first check (see docs/wine.md):
// "chain-status" is its first answer only when the revocation caches were cleared before.
// Exit code 0 when it ran, 2 for a bad command line.
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "Updater/Trust/FileSignature.h"
#include "Updater/Trust/FileTrust.h"
#include "Updater/Trust/HeldFile.h"
#include "Updater/Trust/SignerChain.h"
#include "Updater/Trust/SignerScan.h"

#include <cstdio>
#include <string>
#include <vector>

namespace
{

using namespace OV::Updater::Trust;

const char* YesNo(bool value)
{
    return value ? "true" : "false";
}

struct SignerFound
{
    std::vector<BYTE> message;
    CCertContext signer;
    int signers = -1;
    int index = -1;
};

SignerFound FindSigner(const std::wstring& path)
{
    SignerFound found;
    const CHeldFile file(path);
    if (file.IsHeld() && ReadFirstSignedMessage(file.Handle(), found.message))
    {
        found.signers = CountMessageSigners(found.message);
        found.index = FindMakerSigner(found.message, found.signer);
    }
    return found;
}

int CheckSignature(const std::wstring& path)
{
    std::printf("signed: %s\n", YesNo(IsFileOrvaneSigned(path)));
    const SignerFound found = FindSigner(path);
    std::printf("signers: %d\nmaker-signer: %d\n", found.signers, found.index);
    return 0;
}

int CheckChain(const std::wstring& path)
{
    const SignerFound found = FindSigner(path);
    std::printf("maker-signer: %d\n", found.index);
    if (found.index < 0)
        return 0;
    const CHeldFile file(path);
    std::printf("file-trust: %s\n",
                YesNo(VerifyFileTrust(path, file.Handle(), static_cast<unsigned int>(found.index),
                                      found.signer.Get())));
    DWORD status = 0;
    if (GetSignerChainStatus(found.signer.Get(), found.message, status))
        std::printf("chain-status: 0x%08lX\n", static_cast<unsigned long>(status));
    else
        std::printf("chain-status: none\n");
    std::printf("crl-check: %s\n", YesNo(AreSignerCrlsClean(found.signer.Get(), found.message)));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc == 3 ? argv[1] : L"";
    if (command == L"signature")
        return CheckSignature(argv[2]);
    if (command == L"chain")
        return CheckChain(argv[2]);
    std::fprintf(stderr, "usage: TrustCheck signature|chain <path>\n");
    return 2;
}
