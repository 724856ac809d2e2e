#include "System/Net/MultiStreamDownload/ContentRange.h"

#include <gtest/gtest.h>

using OV::System::Net::MultiStreamDownload::ContentRange;
using OV::System::Net::MultiStreamDownload::ParseHeaderNumber;

TEST(DownloadContentRange, ReadsFirstLastAndTotal)
{
    struct Case
    {
        const char* text;
        std::uint64_t first, last;
        bool hasTotal;
        std::uint64_t total;
    } const cases[] = {
        {"bytes 0-99/600", 0, 99, true, 600},
        {"bytes 500000-1000000/1000001", 500000, 1000000, true, 1000001},
        {"bytes 100-199/*", 100, 199, false, 0},
        {"bytes 0-4294967294/4294967295", 0, 4294967294u, true, 4294967295u},
    };
    for (const Case& c : cases)
    {
        ContentRange range;
        ASSERT_TRUE(ContentRange::Parse(c.text, range)) << c.text;
        EXPECT_EQ(c.first, range.first) << c.text;
        EXPECT_EQ(c.last, range.last) << c.text;
        EXPECT_EQ(c.hasTotal, range.hasTotal) << c.text;
        EXPECT_EQ(c.total, range.total) << c.text;
    }
}

TEST(DownloadContentRange, RefusesAnythingThatDoesNotNameTheBytesExactly)
{
    for (const char* text : {"", "bytes", "bytes */600", "bytes 0-99", "bytes 0-99/", "bytes 99-0/600",
                             "bytes 0-600/600", "bytes -1-99/600", "items 0-99/600", "bytes 0-99/600x",
                             "bytes 0-99/4294967296", "bytes 0-4294967296/*", "bytes 0 - 99/600"})
    {
        ContentRange range;
        EXPECT_FALSE(ContentRange::Parse(text, range)) << text;
    }
}

TEST(DownloadHeaderNumber, OnlyAPlainUnsigned32BitNumberCounts)
{
    std::uint32_t value = 0;
    EXPECT_TRUE(ParseHeaderNumber("0", value));
    EXPECT_EQ(0u, value);
    EXPECT_TRUE(ParseHeaderNumber(" 65537 ", value));
    EXPECT_EQ(65537u, value);
    EXPECT_TRUE(ParseHeaderNumber("4294967295", value));
    EXPECT_EQ(4294967295u, value);
    for (const char* text : {"", "-5", "abc", "12abc", "+3", "4294967296", "1 2"})
        EXPECT_FALSE(ParseHeaderNumber(text, value)) << text;
}
