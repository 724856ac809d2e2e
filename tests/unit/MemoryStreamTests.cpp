#include "System/Io/Stream/MemoryStream.h"
#include "System/RefPtr.h"
#include "System/String/AnsiWide.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

using OV::System::CRefPtr;
using OV::System::IO::Stream::CMemoryStream;
using OV::System::IO::Stream::CStream;
using OV::System::IO::Stream::SeekBegin;
using OV::System::IO::Stream::SeekCurrent;
using OV::System::IO::Stream::SeekEnd;
using OV::Tests::CatchException;

namespace
{

constexpr char kFunctionPrefix[] = "OV::System::IO::Stream::CMemoryStream::";

void ExpectThrows(const std::function<void()>& action, const wchar_t* message, const std::string& operation)
{
    const auto e = CatchException(action);
    ASSERT_TRUE(e.has_value()) << "expected \"" << OV::WideToAnsi(message) << "\" from " << operation;
    EXPECT_EQ(message, e->GetMessageText());
    EXPECT_EQ(kFunctionPrefix + operation, e->GetFunction());
    EXPECT_EQ("Ov\\System\\Io\\Stream\\MemoryStream.cpp", e->GetSourceFile());
}

void WriteText(CMemoryStream& stream, const char* text)
{
    stream.Write(text, static_cast<std::int32_t>(std::strlen(text)));
}

} // namespace

TEST(MemoryStream, NewStreamIsEmptyAndOwnsItsBuffer)
{
    CMemoryStream stream;
    EXPECT_EQ(0, stream.GetLength());
    EXPECT_EQ(0, stream.GetCapacity());
    EXPECT_EQ(0, stream.GetPosition());
    EXPECT_EQ(0, stream.GetCursorPosition(1));
    EXPECT_TRUE(stream.OwnsBuffer());
    EXPECT_TRUE(stream.CanRead() && stream.CanSeek() && stream.CanWrite());
    char byte = 0;
    EXPECT_EQ(0, stream.Read(&byte, 1));
}

TEST(MemoryStream, WritingTenBytesGivesLengthTenCapacityTwentyAndReadsNothingUntilRewound)
{
    CMemoryStream stream;
    const std::vector<char> data = OvTest::Pattern(10);
    stream.Write(data.data(), 10);
    EXPECT_EQ(10, stream.GetLength());
    EXPECT_EQ(20, stream.GetCapacity());
    EXPECT_EQ(10, stream.GetPosition());

    char buffer[16] = {};
    EXPECT_EQ(0, stream.Read(buffer, 16));
    stream.SetPosition(0);
    EXPECT_EQ(10, stream.Read(buffer, 16));
    EXPECT_EQ(0, std::memcmp(data.data(), buffer, 10));
    EXPECT_EQ(10, stream.GetPosition());
}

TEST(MemoryStream, ReadsAcrossChunkBoundariesReturnWhatWasWritten)
{
    CMemoryStream stream;
    const std::vector<char> data = OvTest::Pattern(70001);
    stream.Write(data.data(), 30000);
    stream.Write(data.data() + 30000, 40001);
    stream.SetPosition(0);
    std::vector<char> back;
    char chunk[4093];
    for (std::int32_t n; (n = stream.Read(chunk, sizeof(chunk))) > 0;)
        back.insert(back.end(), chunk, chunk + n);
    EXPECT_EQ(data, back);
}

TEST(MemoryStream, SeekWithinRangeMovesAndOutOfRangeKeepsTheCursor)
{
    CMemoryStream stream;
    WriteText(stream, "abc");
    stream.SeekCur(0, 5, SeekBegin);
    EXPECT_EQ(3, stream.GetPosition());
    EXPECT_EQ(1, stream.Seek(1, SeekBegin));
    EXPECT_EQ(2, stream.Seek(1, SeekCurrent));
    EXPECT_EQ(0, stream.Seek(-3, SeekEnd));
    EXPECT_EQ(0, stream.Seek(-1, SeekCurrent));
    EXPECT_EQ(0, stream.Seek(1, SeekEnd));
    EXPECT_EQ(0, stream.Seek(INT64_MAX, SeekEnd));
    EXPECT_EQ(0, stream.Seek(INT64_MIN, SeekEnd));
    EXPECT_EQ(3, stream.Seek(0, SeekEnd));
}

TEST(MemoryStream, SetPositionOutsideTheLengthThrows)
{
    CMemoryStream stream;
    WriteText(stream, "abc");
    ExpectThrows([&] { stream.SetPosition(5); }, L"memory stream position", "SetPosition");
    ExpectThrows([&] { stream.SetPosition(-1); }, L"memory stream position", "SetPosition");
    EXPECT_EQ(3, stream.GetPosition());
    stream.SetPosition(3);
    EXPECT_EQ(3, stream.GetPosition());
}

TEST(MemoryStream, BadArgumentsThrowWithTheirMessages)
{
    CMemoryStream stream;
    WriteText(stream, "abc");
    char buffer[4] = {};
    ExpectThrows([&] { stream.ReadCur(0, buffer, -1); }, L"bad memory stream read count", "ReadCur");
    ExpectThrows([&] { stream.ReadCur(2, buffer, 1); }, L"memory stream position cursor", "ReadCur");
    ExpectThrows([&] { stream.SeekCur(-1, 0, SeekBegin); }, L"memory stream position cursor", "SeekCur");
    ExpectThrows([&] { stream.SeekCur(0, 0, 3); }, L"seek origin", "SeekCur");
    ExpectThrows([&] { stream.WriteCur(0, nullptr, 1); }, L"nullptr buffer pointer", "WriteCur");
    ExpectThrows([&] { stream.WriteCur(5, buffer, 1); }, L"memory stream position cursor", "WriteCur");
    ExpectThrows([&] { stream.SetLength(-1); }, L"memory stream length", "SetLength");
    ExpectThrows([&] { stream.SetCapacity(-1); }, L"memory stream length", "SetCapacity");
    // Nothing of the above changed the stream.
    EXPECT_EQ(3, stream.GetLength());
    EXPECT_EQ(3, stream.GetPosition());
}

TEST(MemoryStream, WritingZeroBytesDoesNothingEvenWithoutABuffer)
{
    CMemoryStream stream;
    stream.WriteCur(0, nullptr, 0);
    EXPECT_EQ(0, stream.GetLength());
    EXPECT_EQ(0, stream.GetCapacity());
}

TEST(MemoryStream, TheTwoCursorsMoveIndependently)
{
    CMemoryStream stream;
    WriteText(stream, "hello");
    char buffer[8] = {};
    EXPECT_EQ(3, stream.ReadCur(1, buffer, 3));
    EXPECT_EQ(std::string("hel"), std::string(buffer, 3));
    EXPECT_EQ(3, stream.GetCursorPosition(1));
    EXPECT_EQ(5, stream.GetPosition());

    WriteText(stream, " world");
    EXPECT_EQ(8, stream.ReadCur(1, buffer, 8));
    EXPECT_EQ(std::string("lo world"), std::string(buffer, 8));

    stream.WriteCur(1, "J", 1); // cursor 1 is at the end: the stream grows by one
    EXPECT_EQ(12, stream.GetLength());
    EXPECT_EQ(11, stream.GetPosition());
}

TEST(MemoryStream, ReadingIntoNoBufferSkipsBytes)
{
    CMemoryStream stream;
    WriteText(stream, "abcdef");
    stream.SetPosition(0);
    EXPECT_EQ(4, stream.Read(nullptr, 4));
    char buffer[4] = {};
    EXPECT_EQ(2, stream.Read(buffer, 4));
    EXPECT_EQ(std::string("ef"), std::string(buffer, 2));
}

TEST(MemoryStream, SetLengthGrowsToTwiceAndShrinkingKeepsCapacityAndOldBytes)
{
    CMemoryStream stream;
    WriteText(stream, "abcdef");
    EXPECT_EQ(12, stream.GetCapacity());

    stream.SetLength(2);
    EXPECT_EQ(2, stream.GetLength());
    EXPECT_EQ(12, stream.GetCapacity());
    EXPECT_EQ(6, stream.GetPosition()); // the cursor is not moved by a shorter length
    char buffer[8] = {};
    EXPECT_EQ(0, stream.Read(buffer, 8));

    stream.SetLength(5); // within the capacity: the bytes come back as they were, not cleared
    stream.SetPosition(0);
    EXPECT_EQ(5, stream.Read(buffer, 8));
    EXPECT_EQ(std::string("abcde"), std::string(buffer, 5));

    stream.SetLength(13);
    EXPECT_EQ(26, stream.GetCapacity());
    EXPECT_EQ(13, stream.GetLength());
}

TEST(MemoryStream, SetCapacityGrowsExactlyAndNeverShrinks)
{
    CMemoryStream stream;
    stream.SetCapacity(100);
    EXPECT_EQ(100, stream.GetCapacity());
    EXPECT_EQ(0, stream.GetLength());
    stream.SetCapacity(10);
    EXPECT_EQ(100, stream.GetCapacity());
    WriteText(stream, "0123456789");
    EXPECT_EQ(100, stream.GetCapacity()); // writes within the capacity do not reallocate
}

TEST(MemoryStream, FailedAllocationKeepsBufferCapacityAndLength)
{
    CMemoryStream stream;
    WriteText(stream, "keep me");
    const std::int64_t capacity = stream.GetCapacity();
    ExpectThrows([&] { stream.SetCapacity(std::int64_t{1} << 60); }, L"realloc failed", "ChangeCapacityTo");
    ExpectThrows([&] { stream.SetLength(INT64_MAX); }, L"realloc failed", "ChangeCapacityTo");
    EXPECT_EQ(capacity, stream.GetCapacity());
    EXPECT_EQ(7, stream.GetLength());
    EXPECT_EQ(0, std::memcmp("keep me", stream.GetBuffer(), 7));
}

TEST(MemoryStream, WrappedMemoryIsReadAndWrittenInPlaceButNeverResized)
{
    char memory[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    {
        CMemoryStream stream(memory, sizeof(memory));
        EXPECT_FALSE(stream.OwnsBuffer());
        EXPECT_EQ(6, stream.GetLength());
        char buffer[8] = {};
        EXPECT_EQ(6, stream.Read(buffer, 8));
        EXPECT_EQ(std::string("abcdef"), std::string(buffer, 6));

        stream.SetPosition(1);
        stream.Write("XY", 2);
        EXPECT_EQ(std::string("aXYdef"), std::string(memory, 6));

        stream.SetLength(6); // the current length is no change
        ExpectThrows([&] { stream.SetLength(5); }, L"SetLength on externally-owned memory stream",
                     "SetLength");
        ExpectThrows([&] { stream.SetCapacity(100); }, L"SetCapacity on externally-owned memory stream",
                     "SetCapacity");
        stream.SetPosition(5);
        ExpectThrows([&] { stream.Write("123", 3); }, L"SetLength on externally-owned memory stream",
                     "SetLength");
        EXPECT_EQ(6, stream.GetLength());
        EXPECT_EQ(5, stream.GetPosition());
    }
    // The stream left the caller's memory alone when it went away.
    EXPECT_EQ(std::string("aXYdef"), std::string(memory, 6));
}

namespace
{

class CProbeStream : public CMemoryStream
{
public:
    explicit CProbeStream(int& destroyed) : m_Destroyed(destroyed) {}
    ~CProbeStream() override { ++m_Destroyed; }

private:
    int& m_Destroyed;
};

} // namespace

TEST(MemoryStream, LastCountedReferenceDeletesTheStreamThroughTheInterface)
{
    int destroyed = 0;
    CRefPtr<CStream> first(new CProbeStream(destroyed));
    EXPECT_EQ(1, first->GetReferenceCount());
    {
        CRefPtr<CStream> second = first;
        EXPECT_EQ(2, first->GetReferenceCount());
        second->Write("x", 1);
    }
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(1, first->GetLength());
    first.Reset();
    EXPECT_EQ(1, destroyed);
}
