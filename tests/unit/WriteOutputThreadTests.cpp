#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Net/MultiStreamDownload/WriteOutputThread.h"
#include "System/RefPtr.h"
#include "TestSupport.h"

#include <cstring>
#include <filesystem>
#include <tuple>

using OV::System::CRefPtr;
using OV::System::MakeRef;
using OV::System::Net::MultiStreamDownload::CWriteOutputThread;
using OV::System::Net::MultiStreamDownload::StreamProgress;
using OV::Tests::CTemporaryFolder;

namespace
{

constexpr std::uint32_t kBlock = 0x10000;

class CStopOwner : public OV::System::Win32::CThread
{
protected:
    std::uint32_t Execute() override { return 0; }
};

// Hands data to a writer the way a download thread does: buffers 1, 0, 1, ... of at most one block.
void Produce(CWriteOutputThread& writer, const std::vector<char>& data, size_t from, size_t to)
{
    std::uint32_t index = 1;
    for (size_t at = from; at < to; at += kBlock, index ^= 1)
    {
        const size_t count = std::min<size_t>(kBlock, to - at);
        unsigned char* buffer = writer.GetBuffer(index);
        std::memcpy(buffer, data.data() + at, count);
        writer.QueueBuffer(index, static_cast<std::uint32_t>(count));
    }
}

// The offset of a stream record, read while its writer may still hold the file (it lets others read).
std::uint32_t RecordedOffset(const std::wstring& target, std::uint32_t index)
{
    const std::string bytes = OV::Tests::ReadFileBytes(StreamProgress::FileName(target, index));
    if (bytes.size() != StreamProgress::kFileSize ||
        OV::System::Net::MultiStreamDownload::Crc32(bytes.data(), 72) != OV::Tests::Word(bytes, 72))
        return 0xFFFFFFFFu;
    return OV::Tests::Word(bytes, 8);
}

} // namespace

TEST(WriteOutputThread, WritesBlocksInOrderFromTheResumeOffsetAndRecordsTheEnd)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    const std::vector<char> data = OV::Tests::Pattern(5 * kBlock + 123);
    const std::string head(1000, 'h'); // bytes before the resume offset stay as they are
    OV::Tests::WriteFileBytes(target + L".cache", head);

    auto writer =
        MakeRef<CWriteOutputThread>(target, 0u, 1000u, 2u, kBlock, static_cast<std::uint32_t>(data.size()),
                                    0u, 1u, "Wed, 21 Oct 2015 07:28:00 GMT");
    Produce(*writer, data, 1000, data.size());
    writer->SignalEndOfData();
    writer->WaitForExit();

    EXPECT_FALSE(writer->GetException());
    EXPECT_EQ(data.size(), writer->GetWriteOffset());
    const std::string cache = OV::Tests::ReadFileBytes(target + L".cache");
    EXPECT_EQ(head + std::string(data.begin() + 1000, data.end()), cache);
    CStopOwner owner;
    StreamProgress record(target, 0);
    ASSERT_TRUE(record.Read(owner));
    EXPECT_EQ(data.size(), record.Offset);
    EXPECT_EQ(data.size(), record.DownloadSize);
    EXPECT_EQ(1u, record.ThreadsUsed);
    EXPECT_EQ("Wed, 21 Oct 2015 07:28:00 GMT", record.GetLastModified());
}

TEST(WriteOutputThread, CacheFileWithASecondNameIsNeverWritten)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    OV::Tests::WriteFileBytes(folder.File(L"elsewhere"), "precious");
    ASSERT_TRUE(::CreateHardLinkW((target + L".cache").c_str(), folder.File(L"elsewhere").c_str(), nullptr));
    auto writer = MakeRef<CWriteOutputThread>(target, 0u, 0u, 2u, kBlock, kBlock, 0u, 1u, "UNKNOWN");
    writer->WaitForExit();
    ASSERT_TRUE(writer->GetException() && writer->GetException()->GetInner());
    EXPECT_NE(std::wstring::npos, writer->GetException()->GetInner()->GetMessageText().find(L"other names"));
    EXPECT_EQ("precious", OV::Tests::ReadFileBytes(folder.File(L"elsewhere")));
}

TEST(WriteOutputThread, ABufferComesBackOnlyAfterItsBlockIsOnDiskAndRecorded)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    auto writer = MakeRef<CWriteOutputThread>(target, 0u, 0u, 2u, kBlock, 3 * kBlock, 0u, 1u, "UNKNOWN");
    std::memset(writer->GetBuffer(1), 'a', kBlock);
    writer->QueueBuffer(1, kBlock);
    writer->GetBuffer(1); // waits until the writer has written and recorded it
    EXPECT_EQ(kBlock, RecordedOffset(target, 0));
    EXPECT_EQ(std::string(kBlock, 'a'), OV::Tests::ReadFileBytes(target + L".cache"));
    writer->SignalEndOfData();
    writer->WaitForExit();
}

TEST(WriteOutputThread, WriterThatEndedWhileABlockWaitsFailsTheProducerWithinItsWaitWithItsCause)
{
    // A writer that ended by itself, and one that failed (as on a full disk) and ended.
    for (const bool failed : {false, true})
    {
        CTemporaryFolder folder;
        const std::wstring target = folder.File(L"setup.exe");
        auto writer = MakeRef<CWriteOutputThread>(target, 0u, 0u, 2u, kBlock, 2 * kBlock, 0u, 1u, "UNKNOWN");
        writer->Stop(INFINITE);
        std::memset(writer->GetBuffer(1), 'a', kBlock);
        writer->QueueBuffer(1, kBlock);
        if (failed)
            writer->SetException(MakeRef<OV::System::CException>("Ov\\Test", 1, "Test", "disk full"));
        const ULONGLONG start = ::GetTickCount64();
        const auto thrown = OV::Tests::CatchException([&] { writer->WaitForBuffer(1); });
        ASSERT_TRUE(thrown.has_value());
        EXPECT_LT(::GetTickCount64() - start, 2000u);
        if (!failed)
        {
            EXPECT_EQ(L"WriteOutputThread has exited unexpectedly", thrown->GetMessageText());
            continue;
        }
        EXPECT_EQ(L"WriteFileThread Failed.", thrown->GetMessageText());
        ASSERT_NE(nullptr, thrown->GetInner());
        EXPECT_EQ(L"disk full", thrown->GetInner()->GetMessageText());
    }
}
