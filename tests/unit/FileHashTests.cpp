#include "System/Io/Stream/FileStream.h"
#include "System/Io/Stream/MemoryStream.h"
#include "System/RefPtr.h"
#include "Updater/Trust/FileHash.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OV::System::CRefPtr;
using OV::System::MakeRef;
using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::CMemoryStream;
using OV::System::IO::Stream::FileStreamMode;
using OV::Updater::Trust::DigestToHex;
using OV::Updater::Trust::HashTextEquals;
using OV::Updater::Trust::Sha256Digest;
using OV::Updater::Trust::Sha256OfBuffer;
using OV::Updater::Trust::Sha256OfStream;
using OvTest::CTemporaryFolder;
using OvTest::Pattern;

namespace
{

// Digests of OvTest::Pattern(n), taken with Python's hashlib.
constexpr char kEmptyDigest[] = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
constexpr char kPattern8192Digest[] = "25DF2449B2E5A35FEA14E02A7158E283801A1069C9F84631B9A9DACB2F809A7F";
constexpr char kPattern8193Digest[] = "7E3691790CD64B19D4EDB1A80E988214515ABEB53AA0F34FFBFE4B4BF405D120";
constexpr char kPattern24577Digest[] = "F8CCD87DCBC30DCD76EF6A9DF19D37114F0027AA65DEE8C87BC25E7469DF8CE4";

struct SizeAndDigest
{
    std::size_t size;
    const char* digest;
};

constexpr SizeAndDigest kPatternDigests[] = {
    {0, kEmptyDigest},
    {8192, kPattern8192Digest},
    {8193, kPattern8193Digest},
    {3 * 8192 + 1, kPattern24577Digest},
};

// The installer as the run opens it: an existing file, read only, others may read.
CRefPtr<CFileStream> OpenForHashing(const std::wstring& path)
{
    return MakeRef<CFileStream>(path, FileStreamMode::OpenExisting, OV::System::IO::Stream::FileAccessRead,
                                FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
}

} // namespace

TEST(Sha256OfBuffer, GivesThePublishedDigests)
{
    for (const SizeAndDigest& c : kPatternDigests)
    {
        const std::vector<char> bytes = Pattern(c.size);
        Sha256Digest digest{};
        ASSERT_TRUE(Sha256OfBuffer(bytes.data(), bytes.size(), digest)) << c.size << " bytes";
        EXPECT_EQ(c.digest, DigestToHex(digest)) << c.size << " bytes";
    }
    Sha256Digest digest{};
    ASSERT_TRUE(Sha256OfBuffer("abc", 3, digest));
    EXPECT_EQ("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", DigestToHex(digest));
}

TEST(Sha256OfStream, HashesAFileToItsEndAcrossReadBoundaries)
{
    CTemporaryFolder folder;
    for (const SizeAndDigest& c : kPatternDigests)
    {
        const std::wstring path = folder.File(L"installer-" + std::to_wstring(c.size) + L".exe");
        const std::vector<char> bytes = Pattern(c.size);
        OvTest::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
        CRefPtr<CFileStream> stream = OpenForHashing(path);
        Sha256Digest digest{};
        ASSERT_TRUE(Sha256OfStream(*stream, digest)) << c.size << " bytes";
        EXPECT_EQ(c.digest, DigestToHex(digest)) << c.size << " bytes";
        EXPECT_EQ(static_cast<std::int64_t>(c.size), stream->GetPosition());
    }
}

TEST(Sha256OfStream, HashesAMemoryStreamLikeTheSameBytesInAFile)
{
    const std::vector<char> bytes = Pattern(8193);
    CRefPtr<CMemoryStream> stream = MakeRef<CMemoryStream>();
    stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream->SetPosition(0);
    Sha256Digest digest{};
    ASSERT_TRUE(Sha256OfStream(*stream, digest));
    EXPECT_EQ(kPattern8193Digest, DigestToHex(digest));
}

TEST(Sha256OfStream, AFileThatCannotBeReadIsAComputeFailure)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"installer.exe");
    const std::vector<char> bytes = Pattern(20000);
    OvTest::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));

    // Opened for writing only: nothing can be read, so there is no digest (not the empty input's).
    CRefPtr<CFileStream> writeOnly =
        MakeRef<CFileStream>(path, FileStreamMode::OpenExisting, OV::System::IO::Stream::FileAccessWrite,
                             FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
    Sha256Digest digest{};
    EXPECT_FALSE(Sha256OfStream(*writeOnly, digest));
}

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

TEST(Sha256OfStream, AReadFailingBeforeTheEndIsAComputeFailure)
{
    const std::vector<char> bytes = Pattern(20000);
    for (const std::int64_t failFrom : {std::int64_t{0}, std::int64_t{8192}, std::int64_t{16384}})
    {
        CRefPtr<CFailingStream> stream = MakeRef<CFailingStream>(failFrom);
        stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        stream->SetPosition(0);
        Sha256Digest digest{};
        EXPECT_FALSE(Sha256OfStream(*stream, digest)) << "failing from " << failFrom;
    }
    CRefPtr<CFailingStream> healthy = MakeRef<CFailingStream>(20000);
    healthy->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    healthy->SetPosition(0);
    Sha256Digest digest{};
    EXPECT_TRUE(Sha256OfStream(*healthy, digest));
}
