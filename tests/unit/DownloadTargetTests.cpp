#include "Updater/DownloadTarget.h"

#include "System/ExitCodeException.h"
#include "System/Io/Directory.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "TestSupport.h"
#include "Updater/PartialDownload.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

using OV::Tests::CTemporaryFolder;
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

namespace
{

namespace MSD = OV::System::Net::MultiStreamDownload;

// The engine files of a partial download of two streams, as a killed run leaves them.
void WritePartialDownload(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring target = folder + name;
    MSD::DownloadOrigin(target, "http://h/" + OV::WideToAnsi(name) + "\n0\n", "").Write();
    MSD::DownloadProgress(target, 2, 1000).Write();
    OV::Tests::WriteFileBytes(target + L".cache", std::string(1000, 'c'));
}

FILETIME LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

FILETIME Shifted(FILETIME time, double days)
{
    ULARGE_INTEGER value = {};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += static_cast<LONGLONG>(days * 24 * 3600) * 10000000;
    return {value.LowPart, value.HighPart};
}

} // namespace

TEST(DownloadFolder, OnlyAWholeRecentPartialDownloadWithItsOriginIsKept)
{
    struct Case
    {
        const char* name;
        const wchar_t* spoilt; // the file of setup.exe's download changed, or nullptr
        const char* bytes;     // its new bytes, or nullptr to delete it
        double daysLater;      // when the next run looks, after the cache was written
        bool kept;
    };
    const Case cases[] = {
        {"whole, a moment later", nullptr, nullptr, 0, true},
        {"whole, six days later", nullptr, nullptr, 6, true},
        {"whole, eight days later", nullptr, nullptr, 8, false},
        {"cache written eight days ahead of the clock", nullptr, nullptr, -8, false},
        {"no origin", L".origin", nullptr, 0, false},
        {"no cache", L".cache", nullptr, 0, false},
        {"no plan", L".downloadstate", nullptr, 0, false},
        {"plan damaged", L".downloadstate", "0123456789abcdef", 0, false},
        {"stream record damaged", L".1", "not a stream record", 0, false},
        {"cache with a second name elsewhere", L".cache", "link", 0, false},
    };
    for (const Case& c : cases)
    {
        CTemporaryFolder temporary;
        const std::wstring folder = temporary.Path() + L"\\";
        WritePartialDownload(folder, L"setup.exe");
        if (c.bytes != nullptr && std::string(c.bytes) == "link")
            ASSERT_TRUE(::CreateHardLinkW((folder + L"elsewhere").c_str(),
                                          (folder + L"setup.exe.cache").c_str(), nullptr));
        else if (c.spoilt != nullptr && c.bytes != nullptr)
            OV::Tests::WriteFileBytes(folder + L"setup.exe" + c.spoilt, c.bytes);
        else if (c.spoilt != nullptr)
            ::DeleteFileW((folder + L"setup.exe" + c.spoilt).c_str());
        const FILETIME written = LastWrite(folder + L"setup.exe.cache");
        EXPECT_EQ(c.kept ? L"setup.exe" : L"",
                  OV::Updater::FindResumableDownload(folder, Shifted(written, c.daysLater)))
            << c.name;
    }
}

TEST(DownloadFolder, CleaningKeepsOnlyTheNewestPartialDownloadAndPreparingOnlyThatOfTheTarget)
{
    const std::wstring folder = OV::Updater::DownloadFolder(kProduct);
    EXPECT_EQ(AppData() + L"\\Orvane\\Updater\\" + kProduct + L"\\", folder);
    OV::Updater::CleanDownloadFolder(kProduct);
    WritePartialDownload(folder, L"old.exe");
    ::Sleep(50);
    WritePartialDownload(folder, L"new.exe");
    for (const wchar_t* other :
         {L"setup.exe", L"Park-{0}.exe", L"new.exe.2", L"new.exe", L"new.exe.cache.bak"})
        Touch(folder + other);
    ::CreateDirectoryW((folder + L"keep").c_str(), nullptr);

    OV::Updater::CleanDownloadFolder(kProduct);
    std::vector<std::wstring> left = OV::System::IO::CDirectory::GetFiles(folder);
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::wstring>{L"new.exe.cache", L"new.exe.downloadstate", L"new.exe.origin"}),
              left);
    EXPECT_TRUE(OV::System::IO::CDirectory::Exists(folder + L"keep"));
    ::RemoveDirectoryW((folder + L"keep").c_str());

    // Once the address is known, the old target goes, and so does a partial download of any other file.
    Touch(folder + L"My Setup.exe");
    const auto target = OV::Updater::PrepareDownloadTarget(kProduct, "http://127.0.0.1/d/My%20Setup.exe?x=1");
    EXPECT_EQ(folder + L"My Setup.exe", target.path);
    EXPECT_EQ("My Setup.exe", target.fileName);
    EXPECT_TRUE(OV::System::IO::CDirectory::GetFiles(folder).empty());
}
