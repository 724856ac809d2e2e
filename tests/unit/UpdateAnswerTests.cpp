#include "Updater/Service/UpdateQuery.h"
#include "Updater/Service/Version.h"

#include <gtest/gtest.h>

#include <string>

using OV::Updater::Service::ClientUpdateOffer;
using OV::Updater::Service::ParseClientUpdateAnswer;

TEST(UpdateAnswer, FieldsAreCopiedWhenPresentAndOfTheirType)
{
    struct Case
    {
        const char* what;
        std::string body;
        ClientUpdateOffer expected;
    };
    const std::string full =
        R"({"url": "https://h/x.exe", "hash": "AB12", "size": 1234, "version": "2.0.0.1"})";
    const Case cases[] = {
        {"all fields", full, {"https://h/x.exe", "AB12", 1234, "2.0.0.1"}},
        {"no url", R"({"hash": "AB12", "size": 1234, "version": "2.0.0.1"})", {"", "AB12", 1234, "2.0.0.1"}},
        {"string size", R"({"url": "x", "size": "5"})", {"x", "", 0, ""}},
        {"wrong types", R"({"url": 5, "hash": ["a"], "size": {"n": 1}, "version": 2.5})", {"", "", 0, ""}},
        {"negative size", R"({"size": -5})", {"", "", -5, ""}},
        {"fractional size", R"({"size": 1.5})", {"", "", 0, ""}},
        {"largest size", R"({"size": 9223372036854775807})", {"", "", 9223372036854775807LL, ""}},
        {"size of 2^63", R"({"size": 9223372036854775808})", {"", "", 0, ""}},
        {"keys match exactly", R"({"URL": "a", "Size": 3, " url": "b", "url ": "c"})", {"", "", 0, ""}},
        {"comments", "/* offer */ {\"url\": \"u\", // the file\n \"size\": 9 /* bytes */}", {"u", "", 9, ""}},
        {"huge text",
         R"({"url": ")" + std::string(2000000, 'u') + R"("})",
         {std::string(2000000, 'u'), "", 0, ""}},
        {"escapes in text", R"({"url": "a\u0026b \"q\""})", {"a&b \"q\"", "", 0, ""}},
    };
    for (const Case& c : cases)
    {
        ClientUpdateOffer offer;
        EXPECT_EQ(0u, ParseClientUpdateAnswer(c.body, offer)) << c.what;
        EXPECT_EQ(c.expected.installerUrl, offer.installerUrl) << c.what;
        EXPECT_EQ(c.expected.installerHash, offer.installerHash) << c.what;
        EXPECT_EQ(c.expected.installerSize, offer.installerSize) << c.what;
        EXPECT_EQ(c.expected.latestVersion, offer.latestVersion) << c.what;
    }
}

TEST(UpdateAnswer, TextThatIsNotJsonFailsWith773)
{
    const std::string cases[] = {
        "", R"({"url": "u",})", "<html>502 Bad Gateway</html>",
        std::string(100000, '[') + std::string(100000, ']'), // nesting beyond the reader's stack limit
    };
    for (const std::string& body : cases)
    {
        ClientUpdateOffer offer;
        offer.latestVersion = "untouched";
        EXPECT_EQ(773u, ParseClientUpdateAnswer(body, offer)) << body.substr(0, 40);
        EXPECT_EQ("", offer.installerUrl);
        EXPECT_EQ(0, offer.installerSize);
        EXPECT_EQ("untouched", offer.latestVersion);
    }
}

TEST(UpdateQueryText, UserAgentAndVersionsAreTheFixedTexts)
{
    using namespace OV::Updater::Service;
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93)",
              BuildQueryUserAgent(kProductToken, kUpdaterVersion));
    EXPECT_STREQ("Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93; CDA 6.0)", kDownloadUserAgent);
    EXPECT_STREQ(L"1.1.1.93", kUpdaterVersionW);
}
