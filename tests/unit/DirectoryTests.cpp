#include "System/Exception.h"
#include "System/Io/Directory.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using OV::System::CException;
using OV::System::IO::CDirectory;

TEST(Directory, CreatesNestedFoldersAndRefusesAFileOrAnInvalidPath)
{
    OV::Tests::CTemporaryFolder root;
    const std::wstring deep = root.File(L"a\\b c\\\u00e9\u4e2d");
    CDirectory::Create(deep);
    EXPECT_TRUE(CDirectory::Exists(deep));
    EXPECT_NO_THROW(CDirectory::Create(root.Path() + L"/a/b c"));
    CDirectory::CreateParentDirectory(root.File(L"x\\y\\file.bin"));
    EXPECT_TRUE(CDirectory::Exists(root.File(L"x\\y")));

    OV::Tests::WriteFileBytes(root.File(L"taken"), "");
    const auto failure = OV::Tests::CatchException([&] { CDirectory::Create(root.File(L"taken")); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Cannot create the directory; it already exists as a file: \"" + root.File(L"taken") + L"\"",
              failure->GetMessageText());
    EXPECT_THROW(CDirectory::Create(L" <x"), CException);
}

TEST(Directory, GetFilesListsPlainFilesOnly)
{
    OV::Tests::CTemporaryFolder root;
    CDirectory::Create(root.File(L"sub"));
    OV::Tests::WriteFileBytes(root.File(L"one.exe"), "");
    OV::Tests::WriteFileBytes(root.File(L"two.cache"), "");
    OV::Tests::WriteFileBytes(root.File(L"sub\\deep.txt"), "");
    std::vector<std::wstring> names = CDirectory::GetFiles(root.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"one.exe", L"two.cache"}), names);
    EXPECT_EQ((std::vector<std::wstring>{L"two.cache"}),
              CDirectory::GetFiles(root.Path() + L"\\", L"*.cache"));
    EXPECT_THROW(CDirectory::GetFiles(root.File(L"missing")), CException);
}
