#include "System/Io/Stream/FileStream.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <thread>

using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::FileAccessWrite;
using OV::System::IO::Stream::FileStreamMode;
using OV::Tests::CTemporaryFolder;

namespace
{

// A COM class registered on the machine, removed again at the end. (Wine's HKCR does not show the
// per-user classes of HKCU\Software\Classes, so the registration goes to HKLM.)
class CTestComRegistration
{
public:
    CTestComRegistration()
    {
        ::CoCreateGuid(&m_Clsid);
        wchar_t text[64] = {};
        ::StringFromGUID2(m_Clsid, text, 64);
        m_KeyPath = std::wstring(L"Software\\Classes\\CLSID\\") + text;
    }
    ~CTestComRegistration() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_KeyPath.c_str()); }

    void SetLocalServer(DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (m_KeyPath + L"\\LocalServer32").c_str(), nullptr,
                                    type, data, size));
    }
    const CLSID& Clsid() const { return m_Clsid; }

private:
    CLSID m_Clsid = {};
    std::wstring m_KeyPath;
};

} // namespace

TEST(SystemInfo, NetworkIsAvailableWithAConnectionAndUnknownWithoutCom)
{
    {
        const OV::System::Win32::CComInitScope com;
        EXPECT_TRUE(OV::System::IsNetworkAvailable());
    }
    bool available = true;
    std::thread([&] { available = OV::System::IsNetworkAvailable(); }).join();
    EXPECT_FALSE(available);
}

TEST(SystemInfo, ComServerFolderIsTheRegisteredPathUpToItsLastBackslash)
{
    const struct
    {
        std::wstring value;
        bool found;
        const wchar_t* folder;
    } cases[] = {
        // Quoted as a whole: the quotes go; with arguments after the closing quote the opening one stays.
        {L"\"C:\\Program Files (x86)\\Orvane\\Service\\ElevationService.exe\"", true,
         L"C:\\Program Files (x86)\\Orvane\\Service"},
        {L"\"C:\\Orvane\\Service\\ElevationService.exe\" /service", true, L"\"C:\\Orvane\\Service"},
        {L"ElevationService.exe", true, L"ElevationService.exe"},
        // Longer than the 520 bytes read: refused rather than cut.
        {L"C:\\" + std::wstring(300, L'a') + L"\\server.exe", false, L""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(OV::Utf16ToUtf8(c.value));
        CTestComRegistration registration;
        registration.SetLocalServer(REG_SZ, c.value.c_str(), static_cast<DWORD>((c.value.size() + 1) * 2));
        std::wstring folder = L"stale";
        EXPECT_EQ(c.found, OV::System::GetComServerFolder(registration.Clsid(), folder));
        EXPECT_EQ(c.folder, folder);
    }
    CTestComRegistration unregistered;
    std::wstring folder = L"stale";
    EXPECT_FALSE(OV::System::GetComServerFolder(unregistered.Clsid(), folder));
    EXPECT_EQ(L"", folder);
}

TEST(SystemInfo, FileExistsAndFileSizeOnlyForFilesWhatEverHoldsThem)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"large.bin");
    EXPECT_FALSE(OV::System::FileExists(path));
    EXPECT_EQ(~std::uint64_t{0}, OV::System::GetFileSize(path));
    EXPECT_FALSE(OV::System::FileExists(folder.Path()));
    EXPECT_EQ(~std::uint64_t{0}, OV::System::GetFileSize(folder.Path()));

    // Held without sharing, and above 4 GiB (extended without writing: a sparse file).
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    CFileStream writer(path, FileStreamMode::CreateNew, FileAccessWrite, 0);
    writer.SetLength(size);
    EXPECT_TRUE(OV::System::FileExists(path));
    EXPECT_EQ(static_cast<std::uint64_t>(size), OV::System::GetFileSize(path));
}
