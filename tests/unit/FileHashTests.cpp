#include "Updater/Trust/FileHash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OV::Updater::Trust::DigestToHex;
using OV::Updater::Trust::HashTextEquals;
using OV::Updater::Trust::Sha256Digest;
using OV::Updater::Trust::Sha256OfBuffer;

namespace
{

// Bytes 0, 1, ..., 250, 0, 1, ...: a pattern whose digests were taken with Python's hashlib.
std::vector<unsigned char> PatternBytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    return bytes;
}

constexpr char kEmptyDigest[] = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
constexpr char kPattern8192Digest[] = "25DF2449B2E5A35FEA14E02A7158E283801A1069C9F84631B9A9DACB2F809A7F";
constexpr char kPattern8193Digest[] = "7E3691790CD64B19D4EDB1A80E988214515ABEB53AA0F34FFBFE4B4BF405D120";

} // namespace

TEST(Sha256OfBuffer, GivesThePublishedDigests)
{
    struct Case
    {
        std::vector<unsigned char> bytes;
        const char* digest;
    };
    const std::string abc = "abc";
    const Case cases[] = {
        {{}, kEmptyDigest},
        {{abc.begin(), abc.end()}, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {PatternBytes(8192), kPattern8192Digest},
        {PatternBytes(8193), kPattern8193Digest},
    };
    for (const Case& c : cases)
    {
        Sha256Digest digest{};
        ASSERT_TRUE(Sha256OfBuffer(c.bytes.data(), c.bytes.size(), digest)) << c.bytes.size() << " bytes";
        EXPECT_EQ(c.digest, DigestToHex(digest)) << c.bytes.size() << " bytes";
    }
}

TEST(DigestToHex, WritesUpperCaseHighNibbleFirst)
{
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<unsigned char>(i * 8 + 0x0A);
    EXPECT_EQ("0A121A222A323A424A525A626A727A828A929AA2AAB2BAC2CAD2DAE2EAF2FA02", DigestToHex(digest));
    EXPECT_EQ(64u, DigestToHex(Sha256Digest{}).size());
}

TEST(HashTextEquals, IgnoresCaseButNothingElse)
{
    const std::string upper = kEmptyDigest;
    std::string lower = upper;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string mixed = upper;
    for (std::size_t i = 0; i < mixed.size(); i += 2)
        mixed[i] = lower[i];
    std::string oneDigitOff = upper;
    oneDigitOff[40] = oneDigitOff[40] == '0' ? '1' : '0';

    struct Case
    {
        std::string announced;
        bool equal;
    };
    const Case cases[] = {
        {upper, true},
        {lower, true},
        {mixed, true},
        {upper.substr(0, 63), false},
        {upper + "0", false},
        {lower.substr(1) + "5", false},
        {oneDigitOff, false},
        {"0x" + upper.substr(2), false},
        {std::string(64, ' '), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.equal, HashTextEquals(upper, c.announced)) << '"' << c.announced << '"';
}
