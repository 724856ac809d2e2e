#include "System/Exception.h"
#include "System/Io/FilePath.h"
#include "System/Platform.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::IO::CFilePath;

TEST(FilePath, CombineParentAndNormalize)
{
    EXPECT_EQ(L"C:\\a\\b", CFilePath::Combine(L"C:\\a\\", L"b"));
    EXPECT_EQ(L"C:x", CFilePath::Combine(L"C:", L"x"));
    EXPECT_EQ(L"D:\\x", CFilePath::Combine(L"a", L"D:\\x"));
    EXPECT_EQ(L"C:\\a", CFilePath::GetParent(L"C:\\a\\b\\"));
    EXPECT_EQ(L"C:", CFilePath::GetParent(L"C:\\a"));
    EXPECT_EQ(L"", CFilePath::GetParent(L"name"));
    EXPECT_EQ(L"\\\\server\\share", CFilePath::GetDirectoryName(L"\\\\server\\share\\x"));
    EXPECT_EQ(14u, CFilePath::GetRootLength(L"\\\\server\\share\\x"));
    EXPECT_EQ(L"archive.tar", CFilePath::GetFileNameWithoutExtension(L"x/archive.tar.gz"));
    EXPECT_EQ(L"c:\\a\\c\\", CFilePath::Normalize(L"C:/a/./b/../C/"));
    EXPECT_EQ(L"a", CFilePath::Normalize(L"..\\..\\A"));
    EXPECT_EQ(L"\u00c9t\u00e9", CFilePath::Normalize(L"\u00c9T\u00e9")) << "only A to Z are lowered";

    const std::wstring folder = CFilePath::GetModuleDirectory();
    EXPECT_EQ(CFilePath::Normalize(folder), folder);
    EXPECT_EQ(folder + L"x.ini", CFilePath::MakeAbsolute(L"x.ini"));
    EXPECT_EQ(L"C:\\x.ini", CFilePath::MakeAbsolute(L"C:\\x.ini"));
}

TEST(FilePath, ValidationRefusesWhatWindowsCannotName)
{
    const struct
    {
        std::wstring path;
        std::wstring message; // empty: accepted
    } cases[] = {
        {L"", L"Empty path"},
        {L" |x", L"Path contains one or more invalid characters:  |x"},
        {L" \t ", L"Path contains only whitespace characters:  \t "},
        {std::wstring(261, L'a'), L"Path was too long: " + std::wstring(261, L'a')},
    };
    for (const auto& c : cases)
    {
        const auto failure = OV::Tests::CatchException([&] { CFilePath::ValidatePath(c.path); });
        EXPECT_EQ(c.message, failure ? failure->GetMessageText() : L"") << c.path;
    }
}
