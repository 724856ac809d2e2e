#include "System/Io/Stream/FileStream.h"
#include "System/Io/Stream/MemoryStream.h"
#include "System/RefPtr.h"
#include "TestSupport.h"
#include "Updater/Trust/FileHash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OV::System::MakeRef;
using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::CMemoryStream;
using OV::System::IO::Stream::FileStreamMode;
using OV::Tests::Pattern;
using OV::Updater::Trust::DigestToHex;
using OV::Updater::Trust::HashTextEquals;
using OV::Updater::Trust::Sha256Digest;
using OV::Updater::Trust::Sha256OfBuffer;
using OV::Updater::Trust::Sha256OfStream;

namespace
{

// A stream whose reads fail from a given offset on, as a file on a failing disk or a lost network
// share does: the failed read returns 0 bytes, like the end of the stream.
class CFailingStream : public CMemoryStream
{
public:
    explicit CFailingStream(std::int64_t failFrom) : m_FailFrom(failFrom) {}
    std::int32_t Read(void* buffer, std::int32_t count) override
    {
        return GetPosition() >= m_FailFrom ? 0 : CMemoryStream::Read(buffer, count);
    }

private:
    std::int64_t m_FailFrom;
};

} // namespace

TEST(Sha256, GivesThePublishedDigestsOfBuffersAndOfFilesAcrossReadBoundaries)
{
    // Digests of Pattern(n), taken with Python's hashlib.
    const std::pair<std::size_t, const char*> cases[] = {
        {0, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {8192, "25DF2449B2E5A35FEA14E02A7158E283801A1069C9F84631B9A9DACB2F809A7F"},
        {3 * 8192 + 1, "F8CCD87DCBC30DCD76EF6A9DF19D37114F0027AA65DEE8C87BC25E7469DF8CE4"},
    };
    OV::Tests::CTemporaryFolder folder;
    for (const auto& [size, expected] : cases)
    {
        const std::vector<char> bytes = Pattern(size);
        Sha256Digest digest{};
        ASSERT_TRUE(Sha256OfBuffer(bytes.data(), bytes.size(), digest)) << size;
        EXPECT_EQ(expected, DigestToHex(digest)) << size;

        // The installer as the run opens it: an existing file, read only, others may read.
        OV::Tests::WriteFileBytes(folder.File(L"installer.exe"), std::string(bytes.begin(), bytes.end()));
        auto stream = MakeRef<CFileStream>(folder.File(L"installer.exe"), FileStreamMode::OpenExisting,
                                           OV::System::IO::Stream::FileAccessRead, FILE_SHARE_READ);
        ASSERT_TRUE(Sha256OfStream(*stream, digest)) << size;
        EXPECT_EQ(expected, DigestToHex(digest)) << size;
    }
}

TEST(Sha256, AReadFailingBeforeTheEndIsAComputeFailure)
{
    const std::vector<char> bytes = Pattern(20000);
    for (const std::int64_t failFrom : {0, 8192, 16384, 20000})
    {
        auto stream = MakeRef<CFailingStream>(failFrom);
        stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        stream->SetPosition(0);
        Sha256Digest digest{};
        EXPECT_EQ(failFrom == 20000, Sha256OfStream(*stream, digest)) << "failing from " << failFrom;
    }
}

TEST(HashText, AnnouncedHashMatchesWithoutCaseButOnlyWhole)
{
    const std::string computed = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_TRUE(HashTextEquals(computed, computed));
    EXPECT_TRUE(HashTextEquals(computed, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_FALSE(HashTextEquals(computed, computed.substr(0, 63)));
    EXPECT_FALSE(HashTextEquals(computed, computed + "0"));
    EXPECT_FALSE(
        HashTextEquals(computed, "CA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
}
