// The signer's organisation and whether it is one of the maker's names.
#pragma once

#include "System/Platform.h"

#include <wincrypt.h>

#include <string>
#include <string_view>

namespace OV::Updater::Trust
{

// The organisation (2.5.4.10) of the certificate's subject, unquoted; empty when it has none.
std::wstring GetSignerOrganization(PCCERT_CONTEXT certificate);

// Drops one trailing ".", turns ", " into " ", collapses blanks and tabs into one blank and
// upper-cases a to z: "Orvane, Inc." becomes "ORVANE INC".
std::wstring NormalizeOrganizationName(std::wstring_view text);

// Whether a normalised name is one of ORVANE, ORVANE INC, TESSEL, TESSEL INC, TESSEL AG.
bool IsMakerOrganization(std::wstring_view text);

} // namespace OV::Updater::Trust
