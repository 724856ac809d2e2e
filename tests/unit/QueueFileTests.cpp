#include "System/Net/MultiStreamDownload/Crc32.h"
#include "Analytics/QueueFile.h"
#include "System/Platform.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using OV::Analytics::ComposeQueueRecord;
using OV::Analytics::CQueueFile;
using OV::Analytics::QueueItem;
using OV::System::Net::MultiStreamDownload::Crc32;
using ReadStatus = OV::Analytics::CQueueFile::ReadStatus;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using OV::Tests::PutWord;
using OV::Tests::Word;

class QueueFileTest : public ::testing::Test
{
protected:
    Bytes ReadAll() const
    {
        const std::string bytes = OV::Tests::ReadFileBytes(m_Path);
        return Bytes(bytes.begin(), bytes.end());
    }
    void WriteAll(const Bytes& bytes) const
    {
        OV::Tests::WriteFileBytes(m_Path, std::string(bytes.begin(), bytes.end()));
    }

    // A queue with the given queries appended; returns the record offsets.
    std::vector<std::uint32_t> MakeQueue(const std::vector<std::string>& queries)
    {
        std::vector<std::uint32_t> offsets;
        CQueueFile file(m_Path);
        EXPECT_TRUE(file.IsOpen());
        for (const std::string& query : queries)
        {
            offsets.push_back(static_cast<std::uint32_t>(file.GetSize()));
            EXPECT_TRUE(file.Append(ComposeQueueRecord(query, "", 0)));
        }
        return offsets;
    }

    OV::Tests::CTemporaryFolder m_Folder;
    std::wstring m_Path = m_Folder.File(L"queue.dat");
};

} // namespace

TEST(QueueRecord, HasTheDocumentedLayout)
{
    const Bytes record = ComposeQueueRecord("ab", "", 0);
    const Bytes expected = {25,   0,    0,    0,    // record size 23 + 2
                            23,   0,    0,    0,    // header size
                            0x6D, 0x48, 0x83, 0x9E, // CRC-32 of "ab"
                            0,    0,    0,    0,    // reserved
                            0,                      // key
                            2,    0,                // query length
                            0,    0,    0,    0,    // extra length
                            'a',  'b'};
    EXPECT_EQ(expected, record);
    // The check covers the extra bytes after the query too.
    EXPECT_EQ(Crc32("qxyz", 4), Word(ComposeQueueRecord("q", "xyz", 0), 8));
}

TEST_F(QueueFileTest, NewFileGetsAFreshHeader)
{
    {
        CQueueFile file(m_Path);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_TRUE(file.WasRepaired()); // an empty file has no valid header
    }
    const Bytes bytes = ReadAll();
    ASSERT_EQ(20u, bytes.size());
    EXPECT_EQ(1u, Word(bytes, 0));
    EXPECT_EQ(0u, Word(bytes, 4));
    EXPECT_EQ(20u, Word(bytes, 8));
    EXPECT_EQ(Crc32(bytes.data(), 16), Word(bytes, 16));

    CQueueFile again(m_Path);
    EXPECT_FALSE(again.WasRepaired());
    EXPECT_EQ(20u, again.Header().firstPendingOffset);
}

TEST_F(QueueFileTest, RecordsReadBackInOrderUntilTheEnd)
{
    const std::vector<std::string> queries = {"tid=a&en=1", "tid=b&en=22", std::string(2047, 'q')};
    const std::vector<std::uint32_t> offsets = MakeQueue(queries);
    CQueueFile file(m_Path);
    std::uint32_t offset = 20;
    for (std::size_t i = 0; i < queries.size(); ++i)
    {
        QueueItem item;
        ASSERT_EQ(ReadStatus::Item, file.ReadItem(offset, item));
        EXPECT_EQ(offsets[i], offset);
        EXPECT_EQ(queries[i], item.query);
        EXPECT_EQ("", item.extra);
        EXPECT_EQ(23 + queries[i].size(), item.recordSize);
        offset += item.recordSize;
    }
    QueueItem item;
    EXPECT_EQ(ReadStatus::End, file.ReadItem(offset, item));
    EXPECT_EQ(static_cast<std::int64_t>(offset), file.GetSize());
}

TEST_F(QueueFileTest, DamagedRecordsAreRecognised)
{
    MakeQueue({"tid=first", "tid=second"});
    const Bytes good = ReadAll();
    const std::size_t second = 20 + 23 + 9;

    struct Case
    {
        const char* what;
        Bytes bytes;
    };
    auto changed = [&](auto change)
    {
        Bytes bytes = good;
        change(bytes);
        return bytes;
    };
    const Case cases[] = {
        {"flipped payload bit", changed([&](Bytes& b) { b[second + 23] ^= 0x04; })},
        {"truncated payload", changed([&](Bytes& b) { b.resize(b.size() - 3); })},
        {"two stray bytes", changed([&](Bytes& b) { b.resize(second + 2); })},
        {"size over the limit", changed([&](Bytes& b) { PutWord(b, second, 1000001); })},
        {"header size not 23", changed([&](Bytes& b) { PutWord(b, second + 4, 24); })},
        {"lengths beyond the payload", changed([&](Bytes& b) { b[second + 17] = 11; })},
    };
    for (const Case& c : cases)
    {
        WriteAll(c.bytes);
        CQueueFile file(m_Path);
        ASSERT_FALSE(file.WasRepaired()) << c.what;
        QueueItem item;
        ASSERT_EQ(ReadStatus::Item, file.ReadItem(20, item)) << c.what;
        EXPECT_EQ("tid=first", item.query) << c.what;
        EXPECT_EQ(ReadStatus::Damaged, file.ReadItem(static_cast<std::uint32_t>(second), item)) << c.what;
    }
}

TEST_F(QueueFileTest, DamagedHeaderResetsTheQueue)
{
    MakeQueue({"tid=first", "tid=second"});
    const Bytes good = ReadAll();

    struct Case
    {
        const char* what;
        std::size_t byte;
        std::uint8_t mask;
    };
    const Case flips[] = {{"pending count", 4, 0x10}, {"reserved", 14, 0x40}, {"check", 19, 0x80}};
    for (const Case& c : flips)
    {
        Bytes bytes = good;
        bytes[c.byte] ^= c.mask;
        WriteAll(bytes);
        {
            CQueueFile file(m_Path);
            EXPECT_TRUE(file.WasRepaired()) << c.what;
        }
        const Bytes after = ReadAll();
        ASSERT_EQ(20u, after.size()) << c.what;
        EXPECT_EQ(20u, Word(after, 8));
    }

    // Well-formed headers that cannot be true: another version, a first pending offset outside the file.
    auto withHeader = [&](std::uint32_t version, std::uint32_t offset)
    {
        Bytes bytes = good;
        PutWord(bytes, 0, version);
        PutWord(bytes, 8, offset);
        PutWord(bytes, 16, Crc32(bytes.data(), 16));
        return bytes;
    };
    for (const Bytes& bytes : {withHeader(2, 20), withHeader(0, 20), withHeader(1, 19),
                               withHeader(1, static_cast<std::uint32_t>(good.size() + 1))})
    {
        WriteAll(bytes);
        {
            CQueueFile file(m_Path);
            EXPECT_TRUE(file.WasRepaired());
        }
        EXPECT_EQ(20u, ReadAll().size());
    }

    // The same header with its own values is accepted, also an offset at the very end.
    WriteAll(withHeader(1, static_cast<std::uint32_t>(good.size())));
    CQueueFile file(m_Path);
    EXPECT_FALSE(file.WasRepaired());
    EXPECT_EQ(good.size(), file.Header().firstPendingOffset);
}

TEST_F(QueueFileTest, MoveToFrontKeepsTheRecordsBehindTheOffset)
{
    const std::vector<std::uint32_t> offsets = MakeQueue({"tid=1", "tid=22", "tid=333"});
    {
        CQueueFile file(m_Path);
        ASSERT_TRUE(file.MoveToFront(offsets[1]));
        EXPECT_EQ(20u, file.Header().firstPendingOffset);
    }
    CQueueFile file(m_Path);
    EXPECT_FALSE(file.WasRepaired());
    QueueItem item;
    ASSERT_EQ(ReadStatus::Item, file.ReadItem(20, item));
    EXPECT_EQ("tid=22", item.query);
    ASSERT_EQ(ReadStatus::Item, file.ReadItem(20 + item.recordSize, item));
    EXPECT_EQ("tid=333", item.query);
    EXPECT_EQ(20 + 29 + 30, file.GetSize());

    // Moving from the end empties the queue.
    ASSERT_TRUE(file.MoveToFront(static_cast<std::uint32_t>(file.GetSize())));
    EXPECT_EQ(20, file.GetSize());
}
