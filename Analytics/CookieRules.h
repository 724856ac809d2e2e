#pragma once

#include <string>

namespace OV::Analytics
{

// Whether a consent-cookie value allows the cookie category: 0 always; otherwise the group "C000" followed
// by the character "1" + category must be listed in "&groups=" with the value 1.
bool IsConsentGivenByCookie(const std::wstring& consentCookie, int category);

// The GA client id in a "_ga" cookie value: the value without its first six characters when that rest is
// made only of "+-.0123456789"; empty otherwise.
std::wstring GaClientIdFromCookie(const std::wstring& cookie);

} // namespace OV::Analytics
