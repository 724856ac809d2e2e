#include "System/Net/HttpHeaders.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace OV::System::Net;

TEST(HttpRawHeaders, SplitsAtZeroBytesAndStopsAtAnEmptyLine)
{
    const char block[] = "HTTP/1.1 200 OK\0Content-Length: 5\0Server: x\0\0Ignored: y\0";
    const std::vector<std::string> lines = SplitRawHeaders(block, sizeof(block) - 1);
    EXPECT_EQ((std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 5", "Server: x"}), lines);
    // A block cut in the middle of a line keeps what is there.
    EXPECT_EQ((std::vector<std::string>{"HTTP/1.1 200 OK", "Con"}), SplitRawHeaders(block, 19));
}

TEST(HttpRawHeaders, FindsValuesByPrefixWithCaseAndThePseudoNames)
{
    const std::vector<std::string> lines = {"HTTP/1.1 404 Not Found", "Content-Length:  12", "X-Thing: a: b",
                                            "X-Thing: second"};
    std::string value;
    ASSERT_TRUE(FindHeaderValue(lines, "Content-Length:", value));
    EXPECT_EQ("  12", value);
    ASSERT_TRUE(FindHeaderValue(lines, "X-Thing: ", value));
    EXPECT_EQ("a: b", value);
    EXPECT_FALSE(FindHeaderValue(lines, "content-length:", value));
    ASSERT_TRUE(FindHeaderValue(lines, "Status-Code", value));
    EXPECT_EQ("404", value);
    ASSERT_TRUE(FindHeaderValue(lines, "Status-Text", value));
    EXPECT_EQ("Not Found", value);
    EXPECT_FALSE(FindHeaderValue({"HTTP/1.1 200"}, "Status-Code", value));
}

TEST(HttpStatusLine, CodeIsTheNumberBetweenTheFirstTwoBlanks)
{
    const std::pair<const char*, std::int32_t> cases[] = {
        {"HTTP/1.1 200 OK", 200}, {"HTTP/1.0 404 Not Found", 404}, {"HTTP/1.1 2x0 OK", -1},
        {"HTTP/1.1  200 OK", -1}, {"HTTP/1.1 9999999999 Big", -1}, {"HTTP/1.1 304 Not Modified", 304},
    };
    for (const auto& [line, code] : cases)
        EXPECT_EQ(code, ParseStatusCode(line)) << line;
}

TEST(HttpContentLength, AcceptsOnlyNonNegativeDecimalNumbers)
{
    struct Case
    {
        const char* text;
        ContentLengthValue kind;
        std::int64_t length;
    } const cases[] = {
        {"0", ContentLengthValue::Valid, 0},
        {" 1234", ContentLengthValue::Valid, 1234},
        {"9223372036854775807", ContentLengthValue::Valid, INT64_MAX},
        {"", ContentLengthValue::Unknown, -7},
        {"-5", ContentLengthValue::Invalid, -7},
        {"+5", ContentLengthValue::Invalid, -7},
        {"12abc", ContentLengthValue::Invalid, -7},
        {"1 2", ContentLengthValue::Invalid, -7},
        {"9223372036854775808", ContentLengthValue::Invalid, -7},
    };
    for (const Case& c : cases)
    {
        std::int64_t length = -7;
        EXPECT_EQ(c.kind, ParseContentLength(c.text, length)) << '"' << c.text << '"';
        EXPECT_EQ(c.length, length) << '"' << c.text << '"';
    }
}
