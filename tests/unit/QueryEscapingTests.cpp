#include "CommonAppLogic/ClientIdentity.h"

#include <gtest/gtest.h>

#include <string>

using OV::CommonAppLogic::CClientIdentity;

TEST(QueryEscaping, KeepsExactlyTheUnreservedBytes)
{
    const std::string unreserved = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    for (int byte = 0; byte < 256; ++byte)
    {
        const std::string text(1, static_cast<char>(byte));
        const std::string escaped = CClientIdentity::EscapeQueryText(text);
        if (unreserved.find(static_cast<char>(byte)) != std::string::npos)
        {
            EXPECT_EQ(text, escaped) << byte;
            continue;
        }
        char expected[4] = {};
        std::snprintf(expected, sizeof(expected), "%%%02X", byte);
        EXPECT_EQ(expected, escaped) << byte;
    }
}

TEST(QueryEscaping, EscapesSeparatorsAndUtf8Sequences)
{
    struct Case
    {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Succeeded", "Succeeded"},
        {"a b&c=d+e?f#g/h%i", "a%20b%26c%3Dd%2Be%3Ff%23g%2Fh%25i"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr%C3%BC%C3%9Fe"},
        {"\xE2\x82\xAC 1.1.1.93", "%E2%82%AC%201.1.1.93"},
        {std::string("nul\0byte", 8), "nul%00byte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CClientIdentity::EscapeQueryText(c.text));
}
