#include "System/Io/Directory.h"

#include "System/Exception.h"
#include "System/Io/FilePath.h"

#include <gtest/gtest.h>

#include <algorithm>

using OV::System::CException;
using OV::System::IO::CDirectory;
using OV::System::IO::CFilePath;

namespace
{

class DirectoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_Root = CFilePath::Combine(temp, L"ov-dir-test-" + std::to_wstring(::GetCurrentProcessId()));
        RemoveTree(m_Root);
    }
    void TearDown() override { RemoveTree(m_Root); }

    static void RemoveTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW found = {};
        HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE)
        {
            do
            {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring path = folder + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path);
                else
                    ::DeleteFileW(path.c_str());
            } while (::FindNextFileW(find, &found));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    static void Touch(const std::wstring& path)
    {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        ::CloseHandle(file);
    }

    std::wstring m_Root;
};

} // namespace

TEST_F(DirectoryTest, CreatesNestedFoldersAndToleratesExistingOnes)
{
    const std::wstring deep = m_Root + L"\\a\\b c\\\u00e9\u4e2d";
    CDirectory::Create(deep);
    EXPECT_TRUE(CDirectory::Exists(deep));
    EXPECT_NO_THROW(CDirectory::Create(deep));
    EXPECT_NO_THROW(CDirectory::Create(m_Root + L"/a/b c"));
}

TEST_F(DirectoryTest, ExistingFileIsNotAFolder)
{
    CDirectory::Create(m_Root);
    const std::wstring file = m_Root + L"\\taken";
    Touch(file);
    try
    {
        CDirectory::Create(file);
        FAIL() << "no exception";
    }
    catch (const CException& e)
    {
        EXPECT_EQ(L"Cannot create the directory; it already exists as a file: \"" + file + L"\"",
                  e.GetMessageText());
        EXPECT_EQ(62, e.GetLine());
        EXPECT_EQ("OV::System::IO::CDirectory::Create", e.GetFunction());
    }
}

TEST_F(DirectoryTest, InvalidPathsAreRefusedByValidation)
{
    EXPECT_THROW(CDirectory::Create(L""), CException);
    EXPECT_THROW(CDirectory::Create(L" <x"), CException);
    EXPECT_THROW(CDirectory::Create(m_Root + L"\\" + std::wstring(300, L'a')), CException);
}

TEST_F(DirectoryTest, CreateParentDirectoryMakesTheFolderOfAFile)
{
    CDirectory::CreateParentDirectory(m_Root + L"\\x\\y\\file.bin");
    EXPECT_TRUE(CDirectory::Exists(m_Root + L"\\x\\y"));
    EXPECT_FALSE(CDirectory::Exists(m_Root + L"\\x\\y\\file.bin"));
}

TEST_F(DirectoryTest, GetFilesListsPlainFilesOnly)
{
    CDirectory::Create(m_Root + L"\\sub");
    EXPECT_TRUE(CDirectory::GetFiles(m_Root).empty()) << "a folder with only sub-folders";
    Touch(m_Root + L"\\one.exe");
    Touch(m_Root + L"\\two.cache");
    Touch(m_Root + L"\\sub\\deep.txt");
    std::vector<std::wstring> names = CDirectory::GetFiles(m_Root);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"one.exe", L"two.cache"}), names);
    EXPECT_EQ((std::vector<std::wstring>{L"two.cache"}), CDirectory::GetFiles(m_Root + L"\\", L"*.cache"));
}

TEST_F(DirectoryTest, GetFilesOfAMissingFolderThrows)
{
    try
    {
        CDirectory::GetFiles(m_Root + L"\\missing");
        FAIL() << "no exception";
    }
    catch (const CException& e)
    {
        EXPECT_EQ(L"Directory does not exist" + m_Root + L"\\missing", e.GetMessageText());
        EXPECT_EQ(290, e.GetLine());
    }
}
