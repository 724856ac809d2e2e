#include "System/ErrorText.h"
#include "System/Io/Stream/FileStream.h"
#include "System/RefPtr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::FileAccessRead;
using OV::System::IO::Stream::FileAccessReadWrite;
using OV::System::IO::Stream::FileAccessWrite;
using OV::System::IO::Stream::FileStreamMode;
using OV::System::IO::Stream::SeekCurrent;
using OV::System::IO::Stream::SeekEnd;
using OV::Tests::CatchException;
using OV::Tests::CTemporaryFolder;

namespace
{

std::string ReadAll(CFileStream& stream)
{
    stream.SetPosition(0);
    std::string bytes;
    char chunk[65537];
    for (std::int32_t n; (n = stream.Read(chunk, sizeof(chunk))) > 0;)
        bytes.append(chunk, static_cast<size_t>(n));
    return bytes;
}

} // namespace

TEST(FileStream, WritesReadsSeeksAndSetsTheLength)
{
    CTemporaryFolder folder;
    const std::vector<char> data = OV::Tests::Pattern(300007);
    CFileStream stream(folder.File(L"data.bin"), FileStreamMode::CreateNew, FileAccessReadWrite);
    for (size_t at = 0; at < data.size(); at += 4095)
        stream.Write(data.data() + at, static_cast<std::int32_t>(std::min<size_t>(4095, data.size() - at)));
    EXPECT_EQ(300007, stream.GetLength());
    EXPECT_EQ(std::string(data.begin(), data.end()), ReadAll(stream));

    // Moving past the end alone does not extend the file; a write there leaves a zero gap.
    stream.SetLength(3);
    EXPECT_EQ(10, stream.Seek(7, SeekEnd));
    EXPECT_EQ(3, stream.GetLength());
    stream.Write("z", 1);
    EXPECT_EQ(std::string("\0\1\2\0\0\0\0\0\0\0z", 11), ReadAll(stream));

    stream.SetPosition(2);
    EXPECT_EQ(L"bad seek origin", CatchException([&] { stream.Seek(0, 3); })->GetMessageText());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_NEGATIVE_SEEK),
              CatchException([&] { stream.Seek(-3, SeekCurrent); })->GetLastErrorCode());
    EXPECT_EQ(2, stream.GetPosition());
    EXPECT_TRUE(CatchException([&] { stream.SetLength(-1); }));
}

TEST(FileStream, ModesOpenOrRefuseAsTheirDispositionSays)
{
    CTemporaryFolder folder;
    const std::wstring existing = folder.File(L"existing.bin");
    const std::wstring missing = folder.File(L"missing.bin");
    const struct
    {
        FileStreamMode mode;
        const std::wstring& path;
        DWORD error; // 0: opens
        std::int64_t length;
        std::int64_t position;
    } cases[] = {
        {FileStreamMode::CreateAlways, existing, 0, 0, 0},
        {FileStreamMode::CreateNew, existing, ERROR_FILE_EXISTS, 0, 0},
        {FileStreamMode::OpenExisting, existing, 0, 5, 0},
        {FileStreamMode::OpenExisting, missing, ERROR_FILE_NOT_FOUND, 0, 0},
        {FileStreamMode::TruncateExisting, existing, 0, 0, 0},
        {FileStreamMode::Append, existing, 0, 5, 5},
        {FileStreamMode::Append, missing, 0, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(static_cast<int>(c.mode));
        OV::Tests::WriteFileBytes(existing, "12345");
        ::DeleteFileW(missing.c_str());
        OV::System::CRefPtr<CFileStream> stream;
        const auto e = CatchException(
            [&] { stream = OV::System::MakeRef<CFileStream>(c.path, c.mode, FileAccessReadWrite); });
        ASSERT_EQ(c.error, e ? e->GetLastErrorCode() : 0u);
        if (stream)
        {
            EXPECT_EQ(c.length, stream->GetLength());
            EXPECT_EQ(c.position, stream->GetPosition());
        }
    }
}

TEST(FileStream, ShareModeAndAccessArePassedToTheSystem)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"shared.bin");
    {
        CFileStream writer(path, FileStreamMode::CreateAlways, FileAccessWrite, FILE_SHARE_READ);
        // A reader that does not allow writing cannot join a file that is already open for writing.
        EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION),
                  CatchException([&] { CFileStream(path, FileStreamMode::OpenExisting, FileAccessRead); })
                      ->GetLastErrorCode());
        CFileStream reader(path, FileStreamMode::OpenExisting, FileAccessRead,
                           FILE_SHARE_READ | FILE_SHARE_WRITE);
        writer.Write("ab", 2);
        char buffer[4] = {};
        EXPECT_EQ(2, reader.Read(buffer, 4));
        EXPECT_EQ(0, writer.Read(buffer, 4)); // write-only
        EXPECT_EQ(static_cast<std::uint32_t>(ERROR_ACCESS_DENIED),
                  CatchException([&] { reader.Write("x", 1); })->GetLastErrorCode());
    }
    EXPECT_TRUE(::DeleteFileW(path.c_str())); // both closed
}
