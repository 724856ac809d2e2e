#include "Updater/Trust/FileSignature.h"

#include "Updater/Trust/FileTrust.h"
#include "Updater/Trust/SignerChain.h"
#include "Updater/Trust/SignerScan.h"

#include <new>

namespace OV::Updater::Trust
{

bool IsFileOrvaneSigned(const std::wstring& path)
{
    try
    {
        // The file stays open (others may only read) until the verdict, so what was scanned is what
        // gets verified.
        const System::Win32::CHandleHolder file = OpenFileForSignatureCheck(path);
        if (!file)
            return false;
        std::vector<BYTE> message;
        if (!ReadFirstSignedMessage(file.Get(), message))
            return false;
        CCertContext signer;
        const int index = FindMakerSigner(message, signer);
        if (index < 0)
            return false;
        return VerifyFileTrust(path, static_cast<unsigned int>(index)) &&
               IsSignerChainTrusted(signer.Get(), message);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

} // namespace OV::Updater::Trust
