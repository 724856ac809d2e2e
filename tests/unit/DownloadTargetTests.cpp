#include "Updater/DownloadTarget.h"

#include "System/ExitCodeException.h"
#include "System/Io/Directory.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

#include <shlobj.h>

using OV::Updater::FileNameFromAddress;

TEST(DownloadFileName, LastSegmentBeforeTheQueryThatCannotClimbOutOfTheFolder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"https://cdn.example/a/b/setup-1.2.exe?sig=abc", "setup-1.2.exe"},
        {"https://cdn.example/a/My%20Setup.exe", "My Setup.exe"},
        {"https://h/x%zz.exe", "x%zz.exe"},
        {"https://h/%41%62c.exe", "Abc.exe"},
        {"https://h/a%3Fb.exe", "a"}, // a decoded "?" starts the query too
        {"https://h/files/%5C..%5C..%5Cx.exe", "x.exe"},
        {"https://h/files/..\\..\\x.exe", "x.exe"},
        {"https://h/%2F..%2F..%2Fevil.exe", "evil.exe"},
        {"https://h/C:%5Cwindows%5Cw.exe", "w.exe"},
    };
    for (const auto& [address, name] : cases)
        EXPECT_EQ(name, FileNameFromAddress(address)) << address;
}

namespace
{

std::wstring AppData()
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    return path;
}

void Touch(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ::CloseHandle(file);
}

const wchar_t kProduct[] = L"UnitTestProduct";

} // namespace

TEST(DownloadFolder, IsUnderRoamingAppDataAndCleaningOrPreparingDeletesFilesButNotFolders)
{
    const std::wstring folder = OV::Updater::DownloadFolder(kProduct);
    EXPECT_EQ(AppData() + L"\\Orvane\\Updater\\" + kProduct + L"\\", folder);
    Touch(folder + L"setup.exe");
    Touch(folder + L"setup.exe.downloadstate");
    ::CreateDirectoryW((folder + L"keep").c_str(), nullptr);
    OV::Updater::CleanDownloadFolder(kProduct);
    EXPECT_TRUE(OV::System::IO::CDirectory::GetFiles(folder).empty());
    EXPECT_TRUE(OV::System::IO::CDirectory::Exists(folder + L"keep"));
    ::RemoveDirectoryW((folder + L"keep").c_str());

    Touch(folder + L"My Setup.exe");
    const auto target = OV::Updater::PrepareDownloadTarget(kProduct, "http://127.0.0.1/d/My%20Setup.exe?x=1");
    EXPECT_EQ(folder + L"My Setup.exe", target.path);
    EXPECT_EQ("My Setup.exe", target.fileName);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(target.path.c_str()));
}

TEST(DownloadFolder, TargetThatCannotBeDeletedOrIsNoPlainProgramNameFailsWith0x401)
{
    const std::wstring folder = OV::Updater::DownloadFolder(kProduct);
    ::CreateDirectoryW((folder + L"adir.exe").c_str(), nullptr);
    for (const char* address : {"http://h/adir.exe", "http://h/x/..", "http://h/.", "http://h/setup.bin",
                                "http://h/setup.exe%3Ahidden.exe", "http://h/CON.exe", "http://h/nul.EXE",
                                "http://h/com1.exe", "http://h/setup.exe."})
    {
        try
        {
            OV::Updater::PrepareDownloadTarget(kProduct, address);
            ADD_FAILURE() << address;
        }
        catch (const OV::System::CExitCodeException& e)
        {
            EXPECT_EQ(0x401u, e.GetExitCode()) << address;
        }
    }
    ::RemoveDirectoryW((folder + L"adir.exe").c_str());
}
