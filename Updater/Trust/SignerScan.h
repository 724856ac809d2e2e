// Finds the maker's signer in the Authenticode signature embedded in an executable file.
#pragma once

#include "System/Win32/HandleHolder.h"
#include "Updater/Trust/CryptHandles.h"

#include <string>
#include <vector>

namespace OV::Updater::Trust
{

// True when the PE file's certificate table holds signed messages and their zero padding only. Windows
// leaves this check off by default; data hidden after a signature there would ride along unchecked.
bool HasNothingButSignaturesInTable(HANDLE file);

// The signed message (PKCS #7) of the file's first certificate table entry; false when the file
// has no readable entry.
bool ReadFirstSignedMessage(HANDLE file, std::vector<BYTE>& message);

// The index of the first signer whose signature verifies and whose certificate names one of the
// maker's organisations, with that certificate; -1 when there is none. The scan ends at the first
// failure other than a signature mismatch (past the last signer, or a message that cannot be
// decoded), so it always ends.
int FindMakerSigner(const std::vector<BYTE>& message, CCertContext& signer);

// The number of signers the signed message declares; -1 when it cannot be decoded.
int CountMessageSigners(const std::vector<BYTE>& message);

} // namespace OV::Updater::Trust
