#include "Analytics/ClientId.h"
#include "Analytics/CookieRules.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

using OV::Analytics::DeriveClientId;
using OV::Analytics::GaClientIdFromCookie;
using OV::Analytics::IsConsentGivenByCookie;

TEST(ConsentCookie, GroupsDecideEachCategory)
{
    const std::wstring cookie =
        L"isGpcEnabled=0&datestamp=Mon+Jan+05+2026&version=202411.1.0&isIABGlobal=false"
        L"&groups=C0001%3A1%2CC0002%3A0%2CC0003%3A1&geolocation=DE%3BBY&AwaitingReconsent=false";
    struct Case
    {
        std::wstring cookie;
        int category;
        bool expected;
    };
    const Case cases[] = {
        {cookie, 0, true},
        {cookie, 1, false},                              // C0002:0
        {cookie, 2, true},                               // C0003:1
        {cookie, 3, false},                              // C0004 not listed
        {L"", 0, true},                                  // category 0 needs no cookie
        {L"groups=C0002%3A1", 1, false},                 // "&groups=" is required
        {L"&groups=C0003:1", 2, false},                  // a literal colon is not decoded
        {L"&groups=C0003%3A2", 2, false},                // only "1" allows
        {L"&groups=C0003%3A1%3A1%2CC0003%3A1", 2, true}, // items that do not split in two are skipped
        {L"&groups=XC0003%3A1", 2, false},               // the group must be exactly five characters
        {L"&groups=C0003%3A0%2CC0003%3A1", 2, false},    // the first matching item decides
        {L"&groups=C0002%3A1&x=C0003%3A1", 2, false},    // only the text up to the next "&" counts
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, IsConsentGivenByCookie(c.cookie, c.category))
            << c.category << " " << c.cookie.size();
}

TEST(GaCookie, ClientIdIsTheNumericRestAfterSixCharacters)
{
    EXPECT_EQ(L"1234567890.1767225600", GaClientIdFromCookie(L"GA1.1.1234567890.1767225600"));
    EXPECT_EQ(L"", GaClientIdFromCookie(L"GA1.2."));                    // exactly six characters
    EXPECT_EQ(L"", GaClientIdFromCookie(L"GA1.2.12345abc.1767225600")); // a letter in the rest
    EXPECT_EQ(L"7", GaClientIdFromCookie(L"xxxxxx7"));
}

TEST(DerivedClientId, UsesTheLastEightHexDigitsWithoutTheHighBit)
{
    struct Case
    {
        std::wstring visitorId;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"1b4e28ba-2fa1-11d2-883f-0016d3cca427", L"1405920295.1767225600"}, // d3cca427 without its top bit
        {L"{zz-zz}", L"0.1767225600"},                                       // no hexadecimal digit at all
        {L"1-2-3-4-5", L"74565.1767225600"},         // 0x12345: other characters are skipped
        {L"AB-CD-EF-12", L"734916370.1767225600"},   // 0xABCDEF12 & 0x7FFFFFFF; upper case counts
        {L"ffffffffffff", L"2147483647.1767225600"}, // only eight digits are taken
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, DeriveClientId(c.visitorId, 1767225600)) << c.visitorId;
    EXPECT_EQ(L"5.1735689600", DeriveClientId(L"5", 1735689600));
}
