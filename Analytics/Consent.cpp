#include "Analytics/Consent.h"

#include "Analytics/CookieRules.h"
#include "CommonAppLogic/GamesAppSettings.h"

namespace OV::Analytics
{

namespace
{
const wchar_t* const kCookieNames[] = {L"OptanonConsent", L"_ga"};
} // namespace

std::wstring GetCookie(int index)
{
    if (index < 0 || index >= static_cast<int>(sizeof(kCookieNames) / sizeof(kCookieNames[0])))
        return std::wstring();
    try
    {
        CommonAppLogic::CGamesAppSettings settings;
        return settings.GetValue(L"cookies", kCookieNames[index], L"");
    }
    catch (...)
    {
        // The settings file belongs to the client; anything wrong with it reads as "no cookie".
        return std::wstring();
    }
}

bool IsConsentGiven(int category)
{
    if (category == 0)
        return true;
    return IsConsentGivenByCookie(GetCookie(kConsentCookie), category);
}

std::wstring GetGaClientId()
{
    return GaClientIdFromCookie(GetCookie(kGaCookie));
}

} // namespace OV::Analytics
