#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Thread.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <chrono>
#include <cstring>

using OV::System::Net::MultiStreamDownload::Crc32;
using OV::System::Net::MultiStreamDownload::DownloadProgress;
using OV::System::Net::MultiStreamDownload::StreamProgress;
using OV::System::Win32::CHandleHolder;
using OvTest::CTemporaryFolder;
using OvTest::ReadFileBytes;
using OvTest::WriteFileBytes;

namespace
{

// A stop owner for the stream records: its stop event is all they use, so it never needs to run.
class CStopOwner : public OV::System::Win32::CThread
{
protected:
    std::uint32_t Execute() override { return 0; }
};

std::uint32_t Uint32At(const std::string& bytes, size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

CHandleHolder HoldExclusively(const std::wstring& path)
{
    return CHandleHolder(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

TEST(DownloadStateChecksum, IsTheIeeeCrc32)
{
    EXPECT_EQ(0xCBF43926u, Crc32("123456789", 9));
    EXPECT_EQ(0u, Crc32("", 0));
}

TEST(DownloadStateFile, DownloadRecordIsSixteenLittleEndianBytesWithChecksum)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    DownloadProgress(target, 2, 1000001).Write();

    const std::string bytes = ReadFileBytes(target + L".downloadstate");
    ASSERT_EQ(16u, bytes.size());
    EXPECT_EQ(2u, Uint32At(bytes, 0));
    EXPECT_EQ(1000001u, Uint32At(bytes, 4));
    EXPECT_EQ(2u, Uint32At(bytes, 8));
    EXPECT_EQ(Crc32(bytes.data(), 12), Uint32At(bytes, 12));

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
    EXPECT_EQ(1u, Uint32At(bytes, 0));
    EXPECT_EQ(1u, Uint32At(bytes, 4));
    EXPECT_EQ(565536u, Uint32At(bytes, 8));
    EXPECT_EQ(1000001u, Uint32At(bytes, 12));
    EXPECT_EQ(2u, Uint32At(bytes, 16));
    EXPECT_EQ(std::string("Wed, 21 Oct 2015 07:28:00 GMT") + std::string(21, '\0'), bytes.substr(20, 50));
    EXPECT_EQ(std::string(2, '\0'), bytes.substr(70, 2));
    EXPECT_EQ(Crc32(bytes.data(), 72), Uint32At(bytes, 72));

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
        {"empty", "", ""},
        {"truncated by one byte", download.substr(0, 15), stream.substr(0, 75)},
        {"bit flipped in a field", flip(download, 5), flip(stream, 9)},
        {"bit flipped in the text", flip(download, 0), flip(stream, 30)},
        {"bit flipped in the padding", flip(download, 11), flip(stream, 71)},
        {"bit flipped in the checksum", flip(download, 14), flip(stream, 74)},
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
    EXPECT_FALSE(OV::System::FileExists(target + L".downloadstate"));
    EXPECT_FALSE(OV::System::FileExists(target + L".0"));
    EXPECT_FALSE(DownloadProgress(target).Read());
    EXPECT_FALSE(StreamProgress(target, 0).Read(owner));
    DownloadProgress::Delete(target); // a missing file is no error
}

TEST(DownloadStateFile, WriteReplacesALongerFileWhole)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    WriteFileBytes(target + L".downloadstate", std::string(100, 'x'));
    DownloadProgress(target, 1, 77).Write();
    EXPECT_EQ(16u, ReadFileBytes(target + L".downloadstate").size());
    DownloadProgress read(target);
    ASSERT_TRUE(read.Read());
    EXPECT_EQ(77u, read.DownloadSize);
}

TEST(DownloadStateFile, LongLastModifiedIsCutToFortyNineCharacters)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CStopOwner owner;
    const std::string sixty(60, 'M');
    StreamProgress(target, 0, 0, 10, sixty, 1).Write(owner);
    const std::string bytes = ReadFileBytes(target + L".0");
    EXPECT_EQ(std::string(49, 'M') + '\0', bytes.substr(20, 50));
    StreamProgress read(target, 0);
    ASSERT_TRUE(read.Read(owner));
    EXPECT_EQ(std::string(49, 'M'), read.GetLastModified());
    EXPECT_NE(sixty, read.GetLastModified()); // so the same long header later counts as a change
}

TEST(DownloadStateFile, DescriptionsNameEveryField)
{
    EXPECT_EQ(L"File open failed;  C:\\d\\setup.exe; Version=2; ThreadsUsed=2",
              DownloadProgress(L"C:\\d\\setup.exe", 2, 99).Describe(L"File open failed"));
    EXPECT_EQ(L"Write stream progress failed;  C:\\d\\setup.exe; Version=1; StreamIndex=1; Offset=4096; "
              L"DownloadSize=8192; ThreadsUsed=2; LastModified=UNKNOWN",
              StreamProgress(L"C:\\d\\setup.exe", 1, 4096, 8192, "UNKNOWN", 2)
                  .Describe(L"Write stream progress failed"));
}

TEST(DownloadStateFileLocked, OpenIsRetriedTenTimesThenReadFailsAndWriteThrows)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    DownloadProgress(target, 1, 5).Write();
    const CHandleHolder holder = HoldExclusively(target + L".downloadstate");
    ASSERT_TRUE(holder.IsValid());

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadProgress(target).Read());
    const long long readMs = MillisecondsSince(start);
    EXPECT_GE(readMs, 600); // 8 + 18 + ... + 200 = 768 ms of waits
    EXPECT_LT(readMs, 5000);

    start = std::chrono::steady_clock::now();
    const auto thrown = OV::Tests::CatchException([&] { DownloadProgress(target, 1, 5).Write(); });
    ASSERT_TRUE(thrown.has_value());
    EXPECT_GE(MillisecondsSince(start), 600);
    EXPECT_EQ(L"File open failed;  " + target + L"; Version=2; ThreadsUsed=1", thrown->GetMessageText());
    EXPECT_EQ("OV::System::Net::MultiStreamDownload::DownloadProgress::Write", thrown->GetFunction());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION), thrown->GetLastErrorCode());
}

TEST(DownloadStateFileLocked, StopRequestCutsTheStreamRecordRetriesShort)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CStopOwner owner;
    StreamProgress(target, 0, 0, 5, "UNKNOWN", 1).Write(owner);
    const CHandleHolder holder = HoldExclusively(target + L".0");
    ASSERT_TRUE(holder.IsValid());
    owner.SignalStop();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StreamProgress(target, 0).Read(owner));
    const auto thrown =
        OV::Tests::CatchException([&] { StreamProgress(target, 0, 1, 5, "UNKNOWN", 1).Write(owner); });
    EXPECT_LT(MillisecondsSince(start), 400);
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(0u, thrown->GetMessageText().find(L"File open failed;  "));
    EXPECT_EQ("OV::System::Net::MultiStreamDownload::StreamProgress::Write", thrown->GetFunction());
}
