#include "Analytics/ClientId.h"
#include "Analytics/Ga4Event.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

using OV::Analytics::CGa4Event;
using OV::Analytics::ComposeQueryString;

namespace
{

constexpr wchar_t kVisitorId[] = L"1b4e28ba-2fa1-11d2-883f-0016d3cca427";

// What the event draws from rand(): six letters of "_p" around a dot, then three numbers for "sid".
struct RandomDraws
{
    std::string pageMarker;
    std::string sessionId;
};

RandomDraws DrawsAfterSeed(unsigned seed)
{
    std::srand(seed);
    RandomDraws draws;
    for (int i = 0; i < 6; ++i)
    {
        if (i == 3)
            draws.pageMarker += '.';
        const int r = std::rand() % 52;
        draws.pageMarker += static_cast<char>(r < 26 ? 'a' + r : 'A' + (r - 26));
    }
    const std::uint32_t r1 = std::rand(), r2 = std::rand(), r3 = std::rand();
    draws.sessionId = std::to_string(static_cast<std::int32_t>(r3 + ((r2 - r1 * 65536u) * 32768u)));
    std::srand(seed);
    return draws;
}

std::string ScreenSize()
{
    return std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "x" +
           std::to_string(::GetSystemMetrics(SM_CYSCREEN));
}

std::string DerivedClientId()
{
    std::string text;
    for (wchar_t c : OV::Analytics::DeriveClientId(kVisitorId))
        text += static_cast<char>(c);
    return text;
}

} // namespace

TEST(HitComposition, RunEventHasTheParametersInTheirFixedOrder)
{
    const RandomDraws draws = DrawsAfterSeed(4711);
    CGa4Event event(L"Updater", L"1.1.1.93", L"en-us", kVisitorId, L"", L"UID-17", L"Update");
    event.SetParam(L"ep.result", L"Succeeded");

    const std::string expected =
        std::string("tid=") + OV_TEST_MEASUREMENT_ID + "&en=Update&_p=" + draws.pageMarker +
        "&_z=ccd.v9b&cid=" + DerivedClientId() +
        "&ep.result=Succeeded&uid=UID-17&seg=1&sid=" + draws.sessionId +
        "&v=2&ep.app_name=Updater&ep.app_version=1.1.1.93&sr=" + ScreenSize() + "&ul=en-us&_et=1";
    EXPECT_EQ(expected, ComposeQueryString(event));
}

TEST(HitComposition, GaCookieClientIdWinsAndAnEmptyUserIdIsLeftOut)
{
    const RandomDraws draws = DrawsAfterSeed(1);
    CGa4Event event(L"Updater", L"1.1.1.93", L"de-de", kVisitorId, L"987654321.1700000000", L"", L"Update");
    event.SetParam(L"ep.result", L"FailureMainMutex");

    const std::string expected =
        std::string("tid=") + OV_TEST_MEASUREMENT_ID + "&en=Update&_p=" + draws.pageMarker +
        "&_z=ccd.v9b&cid=987654321.1700000000&ep.result=FailureMainMutex&seg=1&sid=" + draws.sessionId +
        "&v=2&ep.app_name=Updater&ep.app_version=1.1.1.93&sr=" + ScreenSize() + "&ul=de-de&_et=1";
    EXPECT_EQ(expected, ComposeQueryString(event));
}

TEST(HitComposition, KeysAndValuesAreEscapedAsUtf8AndFlagsFollowIntegers)
{
    const RandomDraws draws = DrawsAfterSeed(99);
    CGa4Event event(L"Up dater", L"1.1.1.93", L"pt-br", kVisitorId, L"1.2", L"Jos\u00e9 & co", L"Up=date");
    event.SetParam(L"ep.result", L"InstallerExitCode1603 \u20ac/%");
    event.SetParam(L"ep.na me", L"x");
    event.SetFlagParam(L"zz", true);
    event.SetFlagParam(L"aa", false);
    event.SetSecondIntParam(L"_et", -5);

    const std::string expected =
        std::string("tid=") + OV_TEST_MEASUREMENT_ID + "&en=Up%3Ddate&_p=" + draws.pageMarker +
        "&_z=ccd.v9b&cid=1.2&ep.na%20me=x&ep.result=InstallerExitCode1603%20%E2%82%AC%2F%25&uid=Jos%C3%A9%20%"
        "26%20co"
        "&seg=1&sid=" +
        draws.sessionId + "&v=2&aa=0&zz=1&ep.app_name=Up%20dater&ep.app_version=1.1.1.93&sr=" + ScreenSize() +
        "&ul=pt-br&_et=-5";
    EXPECT_EQ(expected, ComposeQueryString(event));
}

TEST(HitComposition, PageMarkerAndSessionIdComeFromTheRuntimeGenerator)
{
    for (unsigned seed : {0u, 1u, 2u, 77u, 123456u})
    {
        const RandomDraws draws = DrawsAfterSeed(seed);
        CGa4Event event(L"Updater", L"1.1.1.93", L"en-us", kVisitorId, L"", L"", L"Update");
        const auto& params = event.GetParams();
        ASSERT_EQ(1u, params.count(L"_p"));
        const std::wstring marker = params.at(L"_p");
        ASSERT_EQ(7u, marker.size());
        EXPECT_EQ(L'.', marker[3]);
        for (std::size_t i = 0; i < marker.size(); ++i)
        {
            if (i != 3)
            {
                EXPECT_TRUE(iswalpha(marker[i])) << seed;
            }
        }
        EXPECT_EQ(std::stoll(draws.sessionId), event.GetIntParams().at(L"sid"));
    }
}
