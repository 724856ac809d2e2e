#include "System/Io/Stream/MemoryStream.h"
#include "System/RefPtr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using OV::System::IO::Stream::CMemoryStream;
using OV::System::IO::Stream::SeekBegin;
using OV::System::IO::Stream::SeekCurrent;
using OV::System::IO::Stream::SeekEnd;
using OV::Tests::CatchException;

namespace
{

std::wstring FailureOf(const std::function<void()>& action)
{
    const auto e = CatchException(action);
    return e ? e->GetMessageText() : L"no failure";
}

} // namespace

TEST(MemoryStream, GrowsToTwiceWhatIsNeededAndReadsBackAcrossChunks)
{
    CMemoryStream stream;
    const std::vector<char> data = OV::Tests::Pattern(70001);
    stream.Write(data.data(), 10);
    EXPECT_EQ(10, stream.GetLength());
    EXPECT_EQ(20, stream.GetCapacity());
    char buffer[4093];
    EXPECT_EQ(0, stream.Read(buffer, 16)); // the cursor is at the end
    stream.Write(data.data() + 10, 69991);
    stream.SetPosition(0);
    std::vector<char> back;
    for (std::int32_t n; (n = stream.Read(buffer, sizeof(buffer))) > 0;)
        back.insert(back.end(), buffer, buffer + n);
    EXPECT_EQ(data, back);

    // A shorter length keeps the capacity and the bytes, which come back when the length grows again.
    stream.SetLength(2);
    EXPECT_EQ(70001, stream.GetPosition());
    stream.SetLength(5);
    stream.SetPosition(0);
    EXPECT_EQ(5, stream.Read(buffer, 8));
    EXPECT_EQ(0, std::memcmp(data.data(), buffer, 5));
    stream.SetCapacity(10); // never shrinks
    EXPECT_GE(stream.GetCapacity(), 70001);
}

TEST(MemoryStream, SeeksWithinRangeAndRefusesBadArgumentsWithoutChange)
{
    CMemoryStream stream;
    stream.Write("abc", 3);
    EXPECT_EQ(2, stream.Seek(-1, SeekEnd));
    EXPECT_EQ(2, stream.Seek(-3, SeekCurrent)); // out of range: the cursor stays
    EXPECT_EQ(L"memory stream position", FailureOf([&] { stream.SetPosition(5); }));
    EXPECT_EQ(L"realloc failed", FailureOf([&] { stream.SetCapacity(std::int64_t{1} << 60); }));
    EXPECT_EQ(3, stream.GetLength());
    EXPECT_EQ(2, stream.GetPosition());
    EXPECT_EQ(0, std::memcmp("abc", stream.GetBuffer(), 3));
}

TEST(MemoryStream, WrappedMemoryIsWrittenInPlaceButNeverResized)
{
    char memory[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    {
        CMemoryStream stream(memory, sizeof(memory));
        EXPECT_FALSE(stream.OwnsBuffer());
        stream.SetPosition(1);
        stream.Write("XY", 2);
        stream.SetPosition(5);
        EXPECT_EQ(L"SetLength on externally-owned memory stream", FailureOf([&] { stream.Write("123", 3); }));
        EXPECT_EQ(L"SetCapacity on externally-owned memory stream",
                  FailureOf([&] { stream.SetCapacity(100); }));
        EXPECT_EQ(6, stream.GetLength());
    }
    EXPECT_EQ("aXYdef", std::string(memory, 6));
}
