#include "System/String/AnsiWide.h"

#include "System/Exception.h"

#include <gtest/gtest.h>

TEST(AnsiWide, EveryByteBecomesTheCodeUnitOfTheSameValue)
{
    std::string bytes;
    for (int value = 1; value < 256; ++value)
        bytes += static_cast<char>(value);
    const std::wstring wide = OV::AnsiToWide(bytes);
    ASSERT_EQ(255u, wide.size());
    for (size_t i = 0; i < wide.size(); ++i)
        EXPECT_EQ(static_cast<wchar_t>(i + 1), wide[i]);
    EXPECT_EQ(bytes, OV::WideToAnsi(wide));
}

TEST(AnsiWide, ConversionStopsAtTheFirstNul)
{
    EXPECT_EQ(L"ab", OV::AnsiToWide(std::string("ab\0cd", 5)));
    EXPECT_EQ(L"", OV::AnsiToWide(""));
    EXPECT_EQ("", OV::WideToAnsi(L""));
}

TEST(AnsiWide, CodeUnitsAbove255CannotBeNarrowed)
{
    try
    {
        OV::WideToAnsi(L"x\u0100");
        FAIL() << "no exception";
    }
    catch (const OV::System::CException& e)
    {
        EXPECT_EQ(L"Could not convert UTF-16 to ANSI.", e.GetMessageText());
        EXPECT_EQ("OV::WideToAnsi", e.GetFunction());
        EXPECT_EQ(38, e.GetLine());
    }
}

TEST(AnsiWide, Utf8RoundTripsEveryPlane)
{
    const std::wstring text = L"A\u00e9\u20ac\u4e2d\U0001F600\u00a0\u2026";
    const std::string utf8 = OV::Utf16ToUtf8(text);
    EXPECT_EQ("A\xc3\xa9\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80\xc2\xa0\xe2\x80\xa6", utf8);
    EXPECT_EQ(text, OV::Utf8ToUtf16(utf8));
    EXPECT_EQ(L"", OV::Utf8ToUtf16(""));
    EXPECT_EQ("", OV::Utf16ToUtf8(L""));
}

TEST(AnsiWide, InvalidUtf8IsReplacedNotRefused)
{
    const std::wstring text = OV::Utf8ToUtf16("a\xff\xfe"
                                              "b");
    EXPECT_EQ(L'a', text.front());
    EXPECT_EQ(L'b', text.back());
    EXPECT_NE(std::wstring::npos, text.find(L'\ufffd'));
}
