#include "Updater/Trust/FileSignature.h"

#include "Updater/Trust/FileTrust.h"
#include "Updater/Trust/HeldFile.h"
#include "Updater/Trust/SignerChain.h"
#include "Updater/Trust/SignerScan.h"

#include <new>

namespace OV::Updater::Trust
{

bool IsHeldFileOrvaneSigned(const CHeldFile& file)
{
    try
    {
        if (!file.IsHeld() || !HasNothingButSignaturesInTable(file.Handle()))
            return false;
        std::vector<BYTE> message;
        if (!ReadFirstSignedMessage(file.Handle(), message))
            return false;
        CCertContext signer;
        const int index = FindMakerSigner(message, signer);
        if (index < 0)
            return false;
        return VerifyFileTrust(file.Path(), file.Handle(), static_cast<unsigned int>(index), signer.Get()) &&
               IsSignerChainTrusted(signer.Get(), message);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool IsFileOrvaneSigned(const std::wstring& path)
{
    return IsHeldFileOrvaneSigned(CHeldFile(path));
}

} // namespace OV::Updater::Trust
