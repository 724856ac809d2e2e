#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Thread.h"
#include "TestSupport.h"

using OV::System::Net::MultiStreamDownload::Crc32;
using OV::System::Net::MultiStreamDownload::DownloadOrigin;
using OV::System::Net::MultiStreamDownload::DownloadProgress;
using OV::System::Net::MultiStreamDownload::StreamProgress;
using OV::System::Win32::CHandleHolder;
using OV::Tests::CTemporaryFolder;
using OV::Tests::ReadFileBytes;
using OV::Tests::Word;
using OV::Tests::WriteFileBytes;

namespace
{

// A stop owner for the stream records: its stop event is all they use, so it never needs to run.
class CStopOwner : public OV::System::Win32::CThread
{
protected:
    std::uint32_t Execute() override { return 0; }
};

CHandleHolder HoldExclusively(const std::wstring& path)
{
    return CHandleHolder(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

TEST(DownloadStateFile, DownloadRecordIsSixteenLittleEndianBytesWithChecksum)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    DownloadProgress(target, 2, 1000001).Write();

    const std::string bytes = ReadFileBytes(target + L".downloadstate");
    ASSERT_EQ(16u, bytes.size());
    EXPECT_EQ(2u, Word(bytes, 0));
    EXPECT_EQ(1000001u, Word(bytes, 4));
    EXPECT_EQ(2u, Word(bytes, 8));
    EXPECT_EQ(Crc32(bytes.data(), 12), Word(bytes, 12));
    EXPECT_EQ(0xCBF43926u, Crc32("123456789", 9)); // the IEEE CRC-32

    DownloadProgress read(target);
    ASSERT_TRUE(read.Read());
    EXPECT_EQ(2u, read.Version);
    EXPECT_EQ(1000001u, read.DownloadSize);
    EXPECT_EQ(2u, read.ThreadsUsed);
}

TEST(DownloadStateFile, StreamRecordIsSeventySixLittleEndianBytesWithChecksum)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CStopOwner owner;
    StreamProgress(target, 1, 500000 + 65536, 1000001, "Wed, 21 Oct 2015 07:28:00 GMT", 2).Write(owner);

    const std::string bytes = ReadFileBytes(target + L".1");
    ASSERT_EQ(76u, bytes.size());
    EXPECT_EQ(1u, Word(bytes, 0));
    EXPECT_EQ(1u, Word(bytes, 4));
    EXPECT_EQ(565536u, Word(bytes, 8));
    EXPECT_EQ(1000001u, Word(bytes, 12));
    EXPECT_EQ(2u, Word(bytes, 16));
    EXPECT_EQ(std::string("Wed, 21 Oct 2015 07:28:00 GMT") + std::string(21, '\0'), bytes.substr(20, 50));
    EXPECT_EQ(std::string(2, '\0'), bytes.substr(70, 2));
    EXPECT_EQ(Crc32(bytes.data(), 72), Word(bytes, 72));

    StreamProgress read(target, 1);
    ASSERT_TRUE(read.Read(owner));
    EXPECT_EQ(565536u, read.Offset);
    EXPECT_EQ(1000001u, read.DownloadSize);
    EXPECT_EQ(2u, read.ThreadsUsed);
    EXPECT_EQ("Wed, 21 Oct 2015 07:28:00 GMT", read.GetLastModified());
}

TEST(DownloadStateFile, DamagedOrMissingRecordsReadAsAbsent)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CStopOwner owner;
    DownloadProgress(target, 1, 123456).Write();
    StreamProgress(target, 0, 65536, 123456, "UNKNOWN", 1).Write(owner);
    const std::string download = ReadFileBytes(target + L".downloadstate");
    const std::string stream = ReadFileBytes(target + L".0");

    struct Case
    {
        const char* name;
        std::string downloadBytes;
        std::string streamBytes;
    };
    auto flip = [](std::string bytes, size_t at)
    {
        bytes.at(at) = static_cast<char>(bytes.at(at) ^ 0x10);
        return bytes;
    };
    const Case cases[] = {
        {"truncated by one byte", download.substr(0, 15), stream.substr(0, 75)},
        {"bit flipped in a field", flip(download, 5), flip(stream, 9)},
        {"bit flipped in the padding", flip(download, 11), flip(stream, 71)},
        {"records swapped", stream.substr(0, 16), download + std::string(60, '\0')},
    };
    for (const Case& c : cases)
    {
        WriteFileBytes(target + L".downloadstate", c.downloadBytes);
        WriteFileBytes(target + L".0", c.streamBytes);
        EXPECT_FALSE(DownloadProgress(target).Read()) << c.name;
        EXPECT_FALSE(StreamProgress(target, 0).Read(owner)) << c.name;
    }

    DownloadProgress::Delete(target);
    StreamProgress::Delete(target, 0);
    EXPECT_FALSE(DownloadProgress(target).Read());
    EXPECT_FALSE(StreamProgress(target, 0).Read(owner));
    DownloadProgress::Delete(target); // a missing file is no error
}

TEST(DownloadStateFile, OriginRecordKeepsItsTextsExactlyAndAnythingNotWholeReadsAsAbsent)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    const std::string identity = "http://h/setup.exe?a=1\n2354016\nab12" + std::string(3000, 'x');
    DownloadOrigin(target, identity, "\"5f3a-23ea60\"").Write();
    const std::string bytes = ReadFileBytes(target + L".origin");
    ASSERT_EQ(12 + identity.size() + 13 + 4, bytes.size());
    EXPECT_EQ(1u, Word(bytes, 0));
    EXPECT_EQ(identity.size(), Word(bytes, 4));
    EXPECT_EQ(13u, Word(bytes, 8));
    EXPECT_EQ(Crc32(bytes.data(), bytes.size() - 4), Word(bytes, bytes.size() - 4));
    DownloadOrigin read(target);
    ASSERT_TRUE(read.Read());
    EXPECT_EQ(identity, read.Identity);
    EXPECT_EQ("\"5f3a-23ea60\"", read.EntityTag);

    std::string longer = bytes;
    longer.insert(12, "y"); // one byte more than the lengths say, checksum made to fit
    OV::Tests::PutWord(longer, longer.size() - 4, Crc32(longer.data(), longer.size() - 4));
    std::string wrapped = bytes;
    OV::Tests::PutWord(wrapped, 4, 0xFFFFFFF0u);
    OV::Tests::PutWord(wrapped, wrapped.size() - 4, Crc32(wrapped.data(), wrapped.size() - 4));
    for (const std::string& damaged :
         {bytes.substr(0, bytes.size() - 1), longer, wrapped, std::string(15, '\0')})
    {
        WriteFileBytes(target + L".origin", damaged);
        EXPECT_FALSE(DownloadOrigin(target).Read()) << damaged.size();
    }
    ::DeleteFileW(DownloadOrigin::FileName(target).c_str());
    EXPECT_FALSE(DownloadOrigin(target).Read());
    EXPECT_THROW(DownloadOrigin(target, std::string(DownloadOrigin::kMaxIdentity + 1, 'a'), "").Write(),
                 OV::System::CException);
}

TEST(DownloadStateFile, LockedRecordsAreRetriedThenReadAsAbsentOrThrowUnlessStopped)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CStopOwner owner;
    DownloadProgress(target, 1, 5).Write();
    StreamProgress(target, 0, 0, 5, "UNKNOWN", 1).Write(owner);
    const CHandleHolder download = HoldExclusively(target + L".downloadstate");
    const CHandleHolder stream = HoldExclusively(target + L".0");

    ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(DownloadProgress(target).Read());
    EXPECT_GE(::GetTickCount64() - start, 600u); // 8 + 18 + ... + 200 = 768 ms of waits
    const auto thrown = OV::Tests::CatchException([&] { DownloadProgress(target, 1, 5).Write(); });
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(L"File open failed;  " + target + L"; Version=2; ThreadsUsed=1", thrown->GetMessageText());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION), thrown->GetLastErrorCode());

    // A stop request cuts the stream record's retries short.
    owner.SignalStop();
    start = ::GetTickCount64();
    EXPECT_FALSE(StreamProgress(target, 0).Read(owner));
    EXPECT_TRUE(
        OV::Tests::CatchException([&] { StreamProgress(target, 0, 1, 5, "UNKNOWN", 1).Write(owner); }));
    EXPECT_LT(::GetTickCount64() - start, 400u);
}
