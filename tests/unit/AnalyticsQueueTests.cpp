#include "Analytics/AnalyticsGa4.h"
#include "System/Net/MultiStreamDownload/Crc32.h"
#include "System/Exception.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Platform.h"
#include "TestSupport.h"
#include "System/SystemInfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using OV::Analytics::CAnalyticsBase;
using OV::Analytics::CAnalyticsGa4;
using OV::System::CRefPtr;
using OV::System::MakeRef;

namespace
{

using Bytes = std::string;
using OV::Tests::Word;

// Each test uses a queue of its own name, so its file and mutexes are its own even when other test
// programs use the analytics at the same time.
class AnalyticsQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Name = L"OVAnalyticsUnitTest-" + std::to_wstring(::GetCurrentProcessId()) + L".dat";
        m_Path = CAnalyticsBase::GetQueuePathFor(m_Name);
        ::DeleteFileW(m_Path.c_str());
        m_Analytics = MakeRef<CAnalyticsGa4>(m_Name);
    }
    void TearDown() override
    {
        m_Analytics.Reset();
        ::DeleteFileW(m_Path.c_str());
    }

    Bytes ReadFileBytes() const { return OV::Tests::ReadFileBytes(m_Path); }
    void WriteFileBytes(const Bytes& bytes) const { OV::Tests::WriteFileBytes(m_Path, bytes); }

    // Reads and removes every pending record, as the upload does, and returns their queries.
    std::vector<std::string> Drain()
    {
        std::vector<std::string> queries;
        for (;;)
        {
            std::uint32_t count = 0, endOffset = 0;
            std::string query, extra;
            if (!m_Analytics->ReadNextItem(count, endOffset, query, extra) || count == 0)
                return queries;
            queries.push_back(query);
            EXPECT_TRUE(m_Analytics->RemoveItems(endOffset, count));
        }
    }

    std::wstring m_Name;
    std::wstring m_Path;
    CRefPtr<CAnalyticsGa4> m_Analytics;
};

} // namespace

TEST_F(AnalyticsQueueTest, FreshQueueAfterOneEventHoldsHeaderAndOneRecord)
{
    const std::string query = "tid=G-X&en=Update&ep.result=Succeeded";
    ASSERT_TRUE(m_Analytics->AddItem(query, ""));
    const Bytes bytes = ReadFileBytes();
    ASSERT_EQ(20u + 23u + query.size(), bytes.size());
    EXPECT_EQ(1u, Word(bytes, 0));  // version
    EXPECT_EQ(1u, Word(bytes, 4));  // pending records
    EXPECT_EQ(20u, Word(bytes, 8)); // first pending offset
    EXPECT_EQ(OV::System::Net::MultiStreamDownload::Crc32(bytes.data(), 16), Word(bytes, 16));
    EXPECT_EQ(query, std::string(bytes.begin() + 43, bytes.end()));
    EXPECT_EQ(23u + query.size(), m_Analytics->GetPendingBytes());
}

TEST_F(AnalyticsQueueTest, RecordsComeBackInOrderAndRemovalAdvancesTheQueue)
{
    for (const std::string query : {"tid=1&en=a", "tid=2&en=bb", "tid=3&en=ccc"})
        ASSERT_TRUE(m_Analytics->AddItem(query, ""));
    ASSERT_TRUE(m_Analytics->AddItem("tid=4", "post body"));

    std::uint32_t count = 0, endOffset = 0;
    std::string query, extra;
    ASSERT_TRUE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
    // Reading does not consume: the same record comes again until it is removed.
    ASSERT_TRUE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(20u + 23u + 10u, endOffset);
    EXPECT_EQ("tid=1&en=a", query);
    ASSERT_TRUE(m_Analytics->RemoveItems(endOffset, count));
    const Bytes bytes = ReadFileBytes();
    EXPECT_EQ(3u, Word(bytes, 4));
    EXPECT_EQ(endOffset, Word(bytes, 8));
    EXPECT_EQ((std::vector<std::string>{"tid=2&en=bb", "tid=3&en=ccc", "tid=4"}), Drain());
    EXPECT_EQ(0u, m_Analytics->GetPendingBytes());
    // Removing more than is pending never wraps the count below zero.
    ASSERT_TRUE(m_Analytics->AddItem("tid=one", ""));
    ASSERT_TRUE(m_Analytics->RemoveItems(static_cast<std::uint32_t>(ReadFileBytes().size()), 5));
    EXPECT_EQ(0u, Word(ReadFileBytes(), 4));
}

TEST_F(AnalyticsQueueTest, QueueOverFiveMebibytesDropsNewEvents)
{
    const std::string big(60000, 'x');
    int added = 0;
    while (static_cast<std::uint64_t>(ReadFileBytes().size()) <= CAnalyticsBase::kMaxQueueFileSize)
    {
        ASSERT_TRUE(m_Analytics->AddItem(big, ""));
        ASSERT_LT(++added, 100);
    }
    const Bytes full = ReadFileBytes();
    EXPECT_FALSE(m_Analytics->AddItem("tid=dropped", ""));
    EXPECT_EQ(full, ReadFileBytes());
    EXPECT_EQ(static_cast<std::uint32_t>(added), Word(full, 4));
}

TEST_F(AnalyticsQueueTest, SentSpacePastOneMebibyteIsReclaimed)
{
    const std::string big(60000, 'b');
    for (int i = 0; i < 18; ++i)
        ASSERT_TRUE(m_Analytics->AddItem(big + std::to_string(i % 10), ""));
    ASSERT_TRUE(m_Analytics->AddItem("tid=rest-1", ""));
    ASSERT_TRUE(m_Analytics->AddItem("tid=rest-2", ""));

    std::uint32_t count = 0, endOffset = 0;
    std::string query, extra;
    for (int i = 0; i < 17; ++i)
    {
        ASSERT_TRUE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
        ASSERT_TRUE(m_Analytics->RemoveItems(endOffset, count));
        ASSERT_LE(endOffset, CAnalyticsBase::kCompactAfterOffset); // not yet past 1 MiB: nothing moves
    }
    ASSERT_TRUE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
    ASSERT_GT(endOffset, CAnalyticsBase::kCompactAfterOffset);
    ASSERT_TRUE(m_Analytics->RemoveItems(endOffset, count));

    const Bytes bytes = ReadFileBytes();
    EXPECT_EQ(20u + 2u * (23u + 10u), bytes.size());
    EXPECT_EQ(20u, Word(bytes, 8));
    EXPECT_EQ(2u, Word(bytes, 4));
    EXPECT_EQ((std::vector<std::string>{"tid=rest-1", "tid=rest-2"}), Drain());
}

TEST_F(AnalyticsQueueTest, DamagedRecordResetsTheQueueAndLaterEventsAreKept)
{
    ASSERT_TRUE(m_Analytics->AddItem("tid=one", ""));
    ASSERT_TRUE(m_Analytics->AddItem("tid=two", ""));
    Bytes bytes = ReadFileBytes();
    bytes[20 + 30 + 23 + 2] ^= 0x01; // a bit of the second record's payload
    WriteFileBytes(bytes);

    std::uint32_t count = 0, endOffset = 0;
    std::string query, extra;
    ASSERT_TRUE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
    EXPECT_EQ("tid=one", query); // the records before the damage are read as they are
    ASSERT_TRUE(m_Analytics->RemoveItems(endOffset, count));
    EXPECT_FALSE(m_Analytics->ReadNextItem(count, endOffset, query, extra));
    EXPECT_EQ(20u, ReadFileBytes().size());

    ASSERT_TRUE(m_Analytics->AddItem("tid=three", ""));
    EXPECT_EQ(std::vector<std::string>{"tid=three"}, Drain());
}

TEST_F(AnalyticsQueueTest, StopEndsAnUploadThatWaitsForTheQueueMutex)
{
    HANDLE queueMutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                     CAnalyticsBase::GetQueueMutexName(m_Name).c_str());
    ASSERT_NE(nullptr, queueMutex);
    // Held by this thread the way another process would hold it.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(queueMutex, 0));

    ASSERT_TRUE(m_Analytics->StartUpload());
    EXPECT_FALSE(m_Analytics->StartUpload()); // one upload thread at a time
    ::Sleep(300);                             // it is waiting for the queue mutex now
    EXPECT_TRUE(m_Analytics->IsUploading());
    const ULONGLONG start = ::GetTickCount64();
    m_Analytics->StopUpload();
    EXPECT_LT(::GetTickCount64() - start, 3000u);
    EXPECT_FALSE(m_Analytics->IsUploading());
    ::ReleaseMutex(queueMutex);
    ::CloseHandle(queueMutex);

    // The stop was consumed: queue operations work again.
    EXPECT_TRUE(m_Analytics->AddItem("tid=after-stop", ""));
}

TEST_F(AnalyticsQueueTest, UploadOfAnEmptyQueueEndsWithoutWaitingOutARetryDelay)
{
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(m_Analytics->StartUpload());
    while (m_Analytics->IsUploading() && ::GetTickCount64() - start < 10000)
        ::Sleep(20);
    const ULONGLONG took = ::GetTickCount64() - start;
    EXPECT_FALSE(m_Analytics->IsUploading());
    EXPECT_LT(took, m_Analytics->GetRetryDelayMs() * 9 / 10);
    EXPECT_TRUE(m_Analytics->StartUpload()); // a new thread after the last one ended
    m_Analytics->StopUpload();
}
