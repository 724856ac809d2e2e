#include "Analytics/ClientId.h"
#include "Analytics/Ga4Event.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

using OV::Analytics::CGa4Event;
using OV::Analytics::ComposeQueryString;

namespace
{

constexpr wchar_t kVisitorId[] = L"1b4e28ba-2fa1-11d2-883f-0016d3cca427";

// The random parts of an event, as the event drew them: "_p" is three letters, a dot and three letters.
std::string PageMarkerAndSessionId(const CGa4Event& event)
{
    const std::wstring marker = event.GetParams().at(L"_p");
    EXPECT_EQ(7u, marker.size());
    for (std::size_t i = 0; i < marker.size(); ++i)
        EXPECT_TRUE(i == 3 ? marker[i] == L'.' : std::iswalpha(marker[i]) != 0) << OV::Utf16ToUtf8(marker);
    return "_p=" + OV::Utf16ToUtf8(marker) + "|sid=" + std::to_string(event.GetIntParams().at(L"sid"));
}

// The query with the random parts replaced by what PageMarkerAndSessionId returns, in their places.
std::string Composed(const CGa4Event& event)
{
    std::string query = ComposeQueryString(event);
    const std::string random = PageMarkerAndSessionId(event);
    const std::string marker = random.substr(0, random.find('|'));
    const std::string session = random.substr(random.find('|') + 1);
    query.replace(query.find(marker), marker.size(), "_p=<p>");
    query.replace(query.find("&" + session + "&"), session.size() + 2, "&sid=<sid>&");
    return query;
}

std::string ScreenSize()
{
    return std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "x" +
           std::to_string(::GetSystemMetrics(SM_CYSCREEN));
}

} // namespace

TEST(HitComposition, RunEventHasTheParametersInTheirFixedOrderWithTheDerivedClientId)
{
    CGa4Event event(L"Updater", L"1.1.1.93", L"en-us", kVisitorId, L"", L"", L"Update");
    event.SetParam(L"ep.result", L"Succeeded");
    EXPECT_EQ(std::string("tid=") + OV_TEST_MEASUREMENT_ID + "&en=Update&_p=<p>&_z=ccd.v9b&cid=" +
                  OV::Utf16ToUtf8(OV::Analytics::DeriveClientId(kVisitorId)) +
                  "&ep.result=Succeeded&seg=1&sid=<sid>&v=2&ep.app_name=Updater&ep.app_version=1.1.1.93&sr=" +
                  ScreenSize() + "&ul=en-us&_et=1",
              Composed(event));
}

TEST(HitComposition, CookieClientIdWinsKeysAndValuesAreEscapedAsUtf8AndFlagsFollowIntegers)
{
    CGa4Event event(L"Up dater", L"1.1.1.93", L"pt-br", kVisitorId, L"987654321.1700000000",
                    L"Jos\u00e9 & co", L"Up=date");
    event.SetParam(L"ep.result", L"InstallerExitCode1603 \u20ac/%");
    event.SetParam(L"ep.na me", L"x");
    event.SetFlagParam(L"zz", true);
    event.SetFlagParam(L"aa", false);
    event.SetSecondIntParam(L"_et", -5);
    EXPECT_EQ(
        std::string("tid=") + OV_TEST_MEASUREMENT_ID +
            "&en=Up%3Ddate&_p=<p>&_z=ccd.v9b&cid=987654321.1700000000&ep.na%20me=x"
            "&ep.result=InstallerExitCode1603%20%E2%82%AC%2F%25&uid=Jos%C3%A9%20%26%20co&seg=1&sid=<sid>"
            "&v=2&aa=0&zz=1&ep.app_name=Up%20dater&ep.app_version=1.1.1.93&sr=" +
            ScreenSize() + "&ul=pt-br&_et=-5",
        Composed(event));
}
