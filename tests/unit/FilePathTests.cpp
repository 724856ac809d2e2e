#include "System/Io/FilePath.h"

#include "System/Exception.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

using OV::System::CException;
using OV::System::IO::CFilePath;

TEST(FilePathCombine, JoinsWithOneSeparator)
{
    struct Case
    {
        const wchar_t* first;
        const wchar_t* second;
        const wchar_t* expected;
    } const cases[] = {
        {L"C:", L"x", L"C:x"},       {L"a", L"\\b", L"\\b"},        {L"", L"b", L"b"},
        {L"a", L"", L"a"},           {L"C:\\a", L"b", L"C:\\a\\b"}, {L"C:\\a\\", L"b", L"C:\\a\\b"},
        {L"C:/a/", L"b", L"C:/a/b"}, {L"a", L"D:\\x", L"D:\\x"},    {L"a", L"/x", L"/x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CFilePath::Combine(c.first, c.second)) << c.first << L" + " << c.second;
}

TEST(FilePathParts, DirectoryFileAndParent)
{
    EXPECT_EQ(L"C:\\a", CFilePath::GetDirectoryName(L"C:\\a\\b.txt"));
    EXPECT_EQ(L"C:\\", CFilePath::GetDirectoryName(L"C:\\b.txt"));
    EXPECT_EQ(L"Ov\\System\\Net", CFilePath::GetDirectoryName(L"Ov\\System\\Net\\HttpWebRequest.cpp"));
    EXPECT_EQ(L"", CFilePath::GetDirectoryName(L"file.txt"));
    EXPECT_EQ(L"\\\\server\\share", CFilePath::GetDirectoryName(L"\\\\server\\share\\x"));

    EXPECT_EQ(L"b.txt", CFilePath::GetFileName(L"C:\\a\\b.txt"));
    EXPECT_EQ(L"b.txt", CFilePath::GetFileName(L"C:b.txt"));
    EXPECT_EQ(L"plain", CFilePath::GetFileName(L"plain"));
    EXPECT_EQ(L"archive.tar", CFilePath::GetFileNameWithoutExtension(L"x/archive.tar.gz"));
    EXPECT_EQ(L"noext", CFilePath::GetFileNameWithoutExtension(L"C:\\d.ir\\noext"));

    EXPECT_EQ(L"C:\\a", CFilePath::GetParent(L"C:\\a\\b"));
    EXPECT_EQ(L"C:\\a", CFilePath::GetParent(L"C:\\a\\b\\"));
    EXPECT_EQ(L"C:", CFilePath::GetParent(L"C:\\a"));
    EXPECT_EQ(L"C:\\a", CFilePath::GetParent(L"C:\\a\\\\b"));
    EXPECT_EQ(L"", CFilePath::GetParent(L"name"));
    EXPECT_EQ(L"", CFilePath::GetParent(L""));
}

TEST(FilePathRoot, RootLengths)
{
    EXPECT_EQ(0u, CFilePath::GetRootLength(L"a\\b"));
    EXPECT_EQ(1u, CFilePath::GetRootLength(L"\\a"));
    EXPECT_EQ(2u, CFilePath::GetRootLength(L"C:a"));
    EXPECT_EQ(3u, CFilePath::GetRootLength(L"C:\\a"));
    EXPECT_EQ(14u, CFilePath::GetRootLength(L"\\\\server\\share\\x"));
    EXPECT_EQ(9u, CFilePath::GetRootLength(L"\\\\server\\"));
    EXPECT_EQ(8u, CFilePath::GetRootLength(L"\\\\server"));
    EXPECT_TRUE(CFilePath::IsRooted(L"/x"));
    EXPECT_TRUE(CFilePath::IsRooted(L"C:"));
    EXPECT_FALSE(CFilePath::IsRooted(L"x\\y"));
    EXPECT_FALSE(CFilePath::IsRooted(L""));
}

TEST(FilePathNormalize, ResolvesDotsAndLowersAsciiLetters)
{
    EXPECT_EQ(L"c:\\b", CFilePath::Normalize(L"C:\\A\\..\\B"));
    EXPECT_EQ(L"c:\\a\\c\\", CFilePath::Normalize(L"C:/a/./b/../c/"));
    EXPECT_EQ(L"a", CFilePath::Normalize(L"..\\..\\A"));
    EXPECT_EQ(L"\\server\\share", CFilePath::Normalize(L"\\\\Server\\Share"));
    EXPECT_EQ(L"\u00c9t\u00e9", CFilePath::Normalize(L"\u00c9T\u00e9")) << "only A to Z are lowered";
    EXPECT_EQ(L"", CFilePath::Normalize(L""));
}

TEST(FilePathNormalize, ExistingFolderGetsATrailingSeparator)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = temp;
    while (!folder.empty() && CFilePath::IsSeparator(folder.back()))
        folder.pop_back();
    const std::wstring normalized = CFilePath::Normalize(folder);
    ASSERT_FALSE(normalized.empty());
    EXPECT_EQ(L'\\', normalized.back());
}

TEST(FilePathModule, ModuleDirectoryIsNormalisedAndEndsWithSeparator)
{
    const std::wstring folder = CFilePath::GetModuleDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(L'\\', folder.back());
    EXPECT_EQ(CFilePath::Normalize(folder), folder);
    EXPECT_EQ(folder + L"x.ini", CFilePath::MakeAbsolute(L"x.ini"));
    EXPECT_EQ(L"C:\\x.ini", CFilePath::MakeAbsolute(L"C:\\x.ini"));
    EXPECT_EQ(L"", CFilePath::MakeAbsolute(L""));
}

TEST(FilePathValidate, RefusesWhatWindowsCannotName)
{
    auto messageOf = [](const std::wstring& path) -> std::wstring
    {
        try
        {
            CFilePath::ValidatePath(path);
            return L"";
        }
        catch (const CException& e)
        {
            return e.GetMessageText();
        }
    };
    EXPECT_EQ(L"Empty path", messageOf(L""));
    EXPECT_EQ(L"", messageOf(L"C:\\a|b")) << "only the first non-blank character is examined";
    EXPECT_EQ(L"Path contains one or more invalid characters:  |x", messageOf(L" |x"));
    EXPECT_EQ(L"Path contains one or more invalid characters: \x10"
              L"a",
              messageOf(L"\x10"
                        L"a"));
    EXPECT_EQ(L"Path contains only whitespace characters:  \t ", messageOf(L" \t "));
    EXPECT_EQ(L"", messageOf(std::wstring(260, L'a')));
    EXPECT_EQ(L"Path was too long: " + std::wstring(261, L'a'), messageOf(std::wstring(261, L'a')));
}
