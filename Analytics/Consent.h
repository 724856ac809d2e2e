#pragma once

#include <string>

namespace OV::Analytics
{

// Indices of the cookies the analytics read from the client's settings file (section "cookies").
constexpr int kConsentCookie = 0; // "OptanonConsent"
constexpr int kGaCookie = 1;      // "_ga"

// The cookie's value from "Settings\GamesApp.ini"; empty when the file, section or key is missing or the
// index names no cookie.
std::wstring GetCookie(int index);

// Whether the user allowed the cookie category (0 is always allowed; the run asks 1 for its success event
// and 2 for the others). The consent cookie is read anew for each question.
bool IsConsentGiven(int category);

// The GA client id of the "_ga" cookie, or empty text.
std::wstring GetGaClientId();

} // namespace OV::Analytics
