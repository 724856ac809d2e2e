// Finds the maker's signer in the Authenticode signature embedded in an executable file.
#pragma once

#include "System/Win32/HandleHolder.h"
#include "Updater/Trust/CryptHandles.h"

#include <string>
#include <vector>

namespace OV::Updater::Trust
{

// Opens a file for the signature check: read data only, others may read while it is checked, so
// nobody can change it between finding the signer and verifying it.
System::Win32::CHandleHolder OpenFileForSignatureCheck(const std::wstring& path);

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
