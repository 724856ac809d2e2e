#include "System/Exception.h"
#include "System/String/AnsiWide.h"

#include <gtest/gtest.h>

TEST(AnsiWide, EveryByteBecomesTheCodeUnitOfTheSameValueAndNothingAbove255Narrows)
{
    std::string bytes;
    for (int value = 1; value < 256; ++value)
        bytes += static_cast<char>(value);
    std::wstring expected;
    for (wchar_t value = 1; value < 256; ++value)
        expected += value;
    EXPECT_EQ(expected, OV::AnsiToWide(bytes));
    EXPECT_EQ(bytes, OV::WideToAnsi(expected));
    EXPECT_EQ(L"ab", OV::AnsiToWide(std::string("ab\0cd", 5)));
    EXPECT_THROW(OV::WideToAnsi(L"x\u0100"), OV::System::CException);
}

TEST(AnsiWide, Utf8RoundTripsEveryPlaneAndReplacesWhatIsInvalid)
{
    const std::wstring text = L"A\u00e9\u20ac\u4e2d\U0001F600";
    EXPECT_EQ("A\xc3\xa9\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80", OV::Utf16ToUtf8(text));
    EXPECT_EQ(text, OV::Utf8ToUtf16(OV::Utf16ToUtf8(text)));
    EXPECT_EQ(L"a\ufffd\ufffdb", OV::Utf8ToUtf16("a\xff\xfe"
                                                 "b"));
}
