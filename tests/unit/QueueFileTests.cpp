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

TEST_F(QueueFileTest, DamagedRecordsAreRecognised)
{
    MakeQueue({"tid=first", "tid=second"});
    const Bytes good = ReadAll();
    const std::size_t second = 20 + 23 + 9;
    ASSERT_EQ(second + 23 + 10, good.size()); // the changes below stay inside the file

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

    // Well-formed headers that cannot be true: another version, a first pending offset outside the file.
    auto withHeader = [&](std::uint32_t version, std::uint32_t offset)
    {
        Bytes bytes = good;
        PutWord(bytes, 0, version);
        PutWord(bytes, 8, offset);
        PutWord(bytes, 16, Crc32(bytes.data(), 16));
        return bytes;
    };
    Bytes flipped = good;
    flipped[14] ^= 0x40; // a reserved bit, which the check covers
    for (const Bytes& bytes : {flipped, withHeader(2, 20), withHeader(1, 19),
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
