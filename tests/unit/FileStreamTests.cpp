#include "System/ErrorText.h"
#include "System/Io/Stream/FileStream.h"
#include "System/RefPtr.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using OV::System::CRefPtr;
using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::CStream;
using OV::System::IO::Stream::FileAccessRead;
using OV::System::IO::Stream::FileAccessReadWrite;
using OV::System::IO::Stream::FileAccessWrite;
using OV::System::IO::Stream::FileStreamMode;
using OV::System::IO::Stream::SeekBegin;
using OV::System::IO::Stream::SeekCurrent;
using OV::System::IO::Stream::SeekEnd;
using OV::Tests::CatchException;
using OvTest::CTemporaryFolder;

namespace
{

constexpr char kSource[] = "Ov\\System\\Io\\Stream\\FileStream.cpp";

std::string ReadAll(CFileStream& stream)
{
    stream.SetPosition(0);
    std::string bytes;
    char chunk[1000];
    for (std::int32_t n; (n = stream.Read(chunk, sizeof(chunk))) > 0;)
        bytes.append(chunk, static_cast<size_t>(n));
    return bytes;
}

} // namespace

TEST(FileStream, WritesAndReadsBackAcrossChunkBoundaries)
{
    CTemporaryFolder folder;
    const std::vector<char> data = OvTest::Pattern(300007);
    {
        CFileStream stream(folder.File(L"data.bin"), FileStreamMode::CreateNew, FileAccessWrite);
        EXPECT_TRUE(stream.CanWrite());
        EXPECT_FALSE(stream.CanRead());
        EXPECT_TRUE(stream.CanSeek());
        for (size_t at = 0; at < data.size(); at += 4095)
            stream.Write(data.data() + at,
                         static_cast<std::int32_t>(std::min<size_t>(4095, data.size() - at)));
        EXPECT_EQ(300007, stream.GetLength());
        EXPECT_EQ(300007, stream.GetPosition());
    }
    CFileStream stream(folder.File(L"data.bin"), FileStreamMode::OpenExisting, FileAccessRead);
    std::vector<char> back;
    std::vector<char> chunk(65537);
    for (std::int32_t n; (n = stream.Read(chunk.data(), static_cast<std::int32_t>(chunk.size()))) > 0;)
        back.insert(back.end(), chunk.begin(), chunk.begin() + n);
    EXPECT_EQ(data, back);
    EXPECT_EQ(0, stream.Read(chunk.data(), 10)); // at the end
}

TEST(FileStream, SeekingPastTheEndThenWritingLeavesAZeroGap)
{
    CTemporaryFolder folder;
    CFileStream stream(folder.File(L"gap.bin"), FileStreamMode::CreateAlways, FileAccessReadWrite);
    stream.Write("abc", 3);
    EXPECT_EQ(10, stream.Seek(7, SeekEnd));
    EXPECT_EQ(3, stream.GetLength()); // moving alone does not extend the file
    char byte = 0;
    EXPECT_EQ(0, stream.Read(&byte, 1));
    stream.Write("z", 1);
    EXPECT_EQ(11, stream.GetLength());
    EXPECT_EQ(std::string("abc\0\0\0\0\0\0\0z", 11), ReadAll(stream));
    EXPECT_EQ(4, stream.Seek(-7, SeekEnd));
    EXPECT_EQ(6, stream.Seek(2, SeekCurrent));
    EXPECT_EQ(1, stream.Seek(1, SeekBegin));
}

TEST(FileStream, BadSeeksThrowAndKeepThePosition)
{
    CTemporaryFolder folder;
    CFileStream stream(folder.File(L"seek.bin"), FileStreamMode::CreateAlways, FileAccessReadWrite);
    stream.Write("abcdef", 6);
    stream.SetPosition(2);

    const auto badOrigin = CatchException([&] { stream.Seek(0, 3); });
    ASSERT_TRUE(badOrigin.has_value());
    EXPECT_EQ(L"bad seek origin", badOrigin->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::Seek", badOrigin->GetFunction());
    EXPECT_EQ(kSource, badOrigin->GetSourceFile());

    const auto beforeStart = CatchException([&] { stream.Seek(-3, SeekCurrent); });
    ASSERT_TRUE(beforeStart.has_value());
    EXPECT_EQ(L"failed to seek in file", beforeStart->GetMessageText());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_NEGATIVE_SEEK), beforeStart->GetLastErrorCode());

    const auto negative = CatchException([&] { stream.SetPosition(-1); });
    ASSERT_TRUE(negative.has_value());
    EXPECT_EQ(L"failed to seek in file", negative->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::SetPosition", negative->GetFunction());

    EXPECT_EQ(2, stream.GetPosition());
}

TEST(FileStream, SetLengthGrowsAndShrinksAndKeepsThePosition)
{
    CTemporaryFolder folder;
    CFileStream stream(folder.File(L"length.bin"), FileStreamMode::CreateAlways, FileAccessReadWrite);
    stream.Write("0123456789", 10);
    stream.SetPosition(4);

    stream.SetLength(100000);
    EXPECT_EQ(100000, stream.GetLength());
    EXPECT_EQ(4, stream.GetPosition());
    EXPECT_EQ(100000u, OV::System::GetFileSize(folder.File(L"length.bin")));

    stream.SetLength(6);
    EXPECT_EQ(6, stream.GetLength());
    EXPECT_EQ(std::string("012345"), ReadAll(stream));

    stream.SetPosition(5);
    stream.SetLength(2); // the remembered position lies beyond the new end, which a file allows
    EXPECT_EQ(5, stream.GetPosition());
    EXPECT_EQ(2, stream.GetLength());

    const auto e = CatchException([&] { stream.SetLength(-1); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"failed to seek from beginning of file", e->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::SetLength", e->GetFunction());
    EXPECT_EQ(2, stream.GetLength());
}

TEST(FileStream, AppendStartsAtTheEndOfAnExistingFile)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(folder.File(L"log.txt"), "first\n");
    {
        CFileStream stream(folder.File(L"log.txt"), FileStreamMode::Append, FileAccessWrite);
        EXPECT_EQ(6, stream.GetPosition());
        stream.Write("second\n", 7);
    }
    EXPECT_EQ("first\nsecond\n", OvTest::ReadFileBytes(folder.File(L"log.txt")));
}

TEST(FileStream, AppendCreatesAMissingFile)
{
    CTemporaryFolder folder;
    {
        CFileStream stream(folder.File(L"new.txt"), FileStreamMode::Append, FileAccessWrite);
        EXPECT_EQ(0, stream.GetPosition());
        stream.Write("x", 1);
    }
    EXPECT_EQ("x", OvTest::ReadFileBytes(folder.File(L"new.txt")));
}

TEST(FileStream, ModesOpenOrRefuseAsTheirDispositionSays)
{
    CTemporaryFolder folder;
    const std::wstring existing = folder.File(L"existing.bin");
    const std::wstring missing = folder.File(L"missing.bin");
    struct Case
    {
        FileStreamMode mode;
        const std::wstring& path;
        DWORD expectedError; // 0: opens
        std::int64_t expectedLength;
    };
    const Case cases[] = {
        {FileStreamMode::CreateAlways, existing, 0, 0},
        {FileStreamMode::CreateNew, existing, ERROR_FILE_EXISTS, -1},
        {FileStreamMode::OpenExisting, existing, 0, 5},
        {FileStreamMode::OpenExisting, missing, ERROR_FILE_NOT_FOUND, -1},
        {FileStreamMode::OpenAlways, existing, 0, 5},
        {FileStreamMode::TruncateExisting, existing, 0, 0},
        {FileStreamMode::TruncateExisting, missing, ERROR_FILE_NOT_FOUND, -1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(static_cast<int>(c.mode));
        OvTest::WriteFileBytes(existing, "12345");
        ::DeleteFileW(missing.c_str());
        CRefPtr<CFileStream> stream;
        const auto e = CatchException(
            [&] { stream = OV::System::MakeRef<CFileStream>(c.path, c.mode, FileAccessReadWrite); });
        if (c.expectedError == 0)
        {
            ASSERT_FALSE(e.has_value()) << OV::WideToAnsi(e->GetDescription());
            EXPECT_EQ(c.expectedLength, stream->GetLength());
        }
        else
        {
            ASSERT_TRUE(e.has_value());
            EXPECT_EQ(c.expectedError, e->GetLastErrorCode());
        }
    }
}

TEST(FileStream, MissingFileMessageNamesThePathAsPassedAndTheSystemError)
{
    CTemporaryFolder folder;
    // Passed with forward slashes: the message shows exactly what the caller wrote.
    std::wstring path = folder.File(L"no such file.bin");
    for (wchar_t& c : path)
        c = c == L'\\' ? L'/' : c;

    const auto e = CatchException([&] { CFileStream(path, FileStreamMode::OpenExisting, FileAccessRead); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"Failed to open file : '" + path + L"'\n\tError (0x00000002) : " +
                  OV::System::GetErrorTextW(ERROR_FILE_NOT_FOUND),
              e->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::Init", e->GetFunction());
    EXPECT_EQ(kSource, e->GetSourceFile());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND), e->GetLastErrorCode());
}

TEST(FileStream, AFolderWhereAFileIsExpectedCannotBeOpened)
{
    CTemporaryFolder folder;
    const auto e =
        CatchException([&] { CFileStream(folder.Path(), FileStreamMode::OpenExisting, FileAccessRead); });
    ASSERT_TRUE(e.has_value());
    const std::wstring prefix = L"Failed to open file : '" + folder.Path() + L"'";
    EXPECT_EQ(prefix, e->GetMessageText().substr(0, prefix.size()));
}

TEST(FileStream, UnknownModeOrAccessIsRefused)
{
    CTemporaryFolder folder;
    const auto mode = CatchException(
        [&] { CFileStream(folder.File(L"a"), static_cast<FileStreamMode>(6), FileAccessReadWrite); });
    ASSERT_TRUE(mode.has_value());
    EXPECT_EQ(L"FileStream mode", mode->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::Init", mode->GetFunction());

    const auto access =
        CatchException([&] { CFileStream(folder.File(L"a"), FileStreamMode::CreateAlways, 4); });
    ASSERT_TRUE(access.has_value());
    EXPECT_EQ(L"FileStream access", access->GetMessageText());
    EXPECT_FALSE(OV::System::FileExists(folder.File(L"a")));
}

TEST(FileStream, RelativePathIsResolvedAgainstTheProgramFolder)
{
    const std::wstring name = L"ov-relative-" + OV::System::NewGuidText() + L".tmp";
    {
        CFileStream stream(name, FileStreamMode::CreateNew, FileAccessWrite);
        EXPECT_EQ(OV::System::GetModuleDirectory() + name, stream.GetPath());
    }
    const std::wstring created = OV::System::GetModuleDirectory() + name;
    EXPECT_TRUE(OV::System::FileExists(created));
    ::DeleteFileW(created.c_str());
}

TEST(FileStream, ReadingAWriteOnlyStreamGivesZeroAndWritingAReadOnlyStreamThrows)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(folder.File(L"f.bin"), "content");
    {
        CFileStream writeOnly(folder.File(L"f.bin"), FileStreamMode::OpenExisting, FileAccessWrite);
        char buffer[8] = {};
        EXPECT_EQ(0, writeOnly.Read(buffer, 8));
    }
    CFileStream readOnly(folder.File(L"f.bin"), FileStreamMode::OpenExisting, FileAccessRead);
    const auto e = CatchException([&] { readOnly.Write("x", 1); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"WriteFile() failure", e->GetMessageText());
    EXPECT_EQ("OV::System::IO::Stream::CFileStream::Write", e->GetFunction());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_ACCESS_DENIED), e->GetLastErrorCode());
    EXPECT_EQ("content", OvTest::ReadFileBytes(folder.File(L"f.bin")));
}

TEST(FileStream, ShareModeIsPassedToTheSystem)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"shared.bin");
    CFileStream writer(path, FileStreamMode::CreateAlways, FileAccessWrite, FILE_SHARE_READ);
    // A reader that does not allow writing cannot join a file that is already open for writing.
    const auto e = CatchException(
        [&] { CFileStream(path, FileStreamMode::OpenExisting, FileAccessRead, FILE_SHARE_READ); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION), e->GetLastErrorCode());
    CFileStream reader(path, FileStreamMode::OpenExisting, FileAccessRead,
                       FILE_SHARE_READ | FILE_SHARE_WRITE);
    writer.Write("ab", 2);
    char buffer[4] = {};
    EXPECT_EQ(2, reader.Read(buffer, 4));
}

TEST(FileStream, ReleasingTheLastReferenceClosesTheFile)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"owned.bin");
    CRefPtr<CStream> stream =
        OV::System::MakeRef<CFileStream>(path, FileStreamMode::CreateAlways, FileAccessReadWrite, 0);
    stream->Write("data", 4);
    EXPECT_FALSE(::DeleteFileW(path.c_str())); // held open without sharing
    stream.Reset();
    EXPECT_TRUE(::DeleteFileW(path.c_str()));
}
