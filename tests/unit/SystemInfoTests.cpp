#include "System/Io/Stream/FileStream.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/HandleHolder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <netlistmgr.h>
#include <objbase.h>

#include <cstdlib>
#include <cwctype>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using OV::System::IO::Stream::CFileStream;
using OV::System::IO::Stream::FileAccessWrite;
using OV::System::IO::Stream::FileStreamMode;
using OV::System::Win32::CHandleHolder;
using OvTest::CTemporaryFolder;

namespace
{

std::wstring Lowered(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

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
    CTestComRegistration(const CTestComRegistration&) = delete;
    CTestComRegistration& operator=(const CTestComRegistration&) = delete;

    void SetLocalServer(DWORD type, const void* data, DWORD size)
    {
        OV::System::Win32::CRegistryKeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (m_KeyPath + L"\\LocalServer32").c_str(), 0, nullptr,
                                    0, KEY_WRITE, nullptr, key.Put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.Get(), nullptr, 0, type, static_cast<const BYTE*>(data), size));
    }

    void SetLocalServer(const std::wstring& text)
    {
        SetLocalServer(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    const CLSID& Clsid() const { return m_Clsid; }

private:
    CLSID m_Clsid = {};
    std::wstring m_KeyPath;
};

// Runs a copy of this test program with an extra environment entry and returns its exit code.
DWORD RunProgram(const std::wstring& program, const std::wstring& gtestFilter,
                 const std::wstring& extraEnvironment)
{
    std::vector<wchar_t> environment;
    const wchar_t* current = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1)
        environment.insert(environment.end(), entry, entry + std::wcslen(entry) + 1);
    ::FreeEnvironmentStringsW(const_cast<wchar_t*>(current));
    environment.insert(environment.end(), extraEnvironment.c_str(),
                       extraEnvironment.c_str() + extraEnvironment.size() + 1);
    environment.push_back(L'\0');

    std::wstring commandLine = L"\"" + program + L"\" --gtest_filter=" + gtestFilter;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION information = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          environment.data(), nullptr, &startup, &information))
        return 0xFFFFFFFF;
    const CHandleHolder process(information.hProcess);
    const CHandleHolder thread(information.hThread);
    if (::WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0)
    {
        ::TerminateProcess(process.Get(), 0xFFFFFFFE);
        return 0xFFFFFFFE;
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
}

// Wine's per-program DLL overrides: a program of this file name loads no netprofm.dll, so the network
// list class cannot be created, as on a machine whose network list service is stopped. The key goes
// with the object.
class CNetworkListSwitchedOff
{
public:
    explicit CNetworkListSwitchedOff(const std::wstring& programName)
        : m_KeyPath(L"Software\\Wine\\AppDefaults\\" + programName)
    {
        OV::System::Win32::CRegistryKeyHandle key;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, (m_KeyPath + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                          KEY_WRITE, nullptr, key.Put(), nullptr);
        const wchar_t disabled[] = L"";
        ::RegSetValueExW(key.Get(), L"netprofm", 0, REG_SZ, reinterpret_cast<const BYTE*>(disabled),
                         sizeof(disabled));
    }
    ~CNetworkListSwitchedOff() { ::RegDeleteTreeW(HKEY_CURRENT_USER, m_KeyPath.c_str()); }
    CNetworkListSwitchedOff(const CNetworkListSwitchedOff&) = delete;
    CNetworkListSwitchedOff& operator=(const CNetworkListSwitchedOff&) = delete;

private:
    std::wstring m_KeyPath;
};

} // namespace

TEST(SystemInfo, NetworkIsAvailableWhenTheNetworkListReportsAConnection)
{
    const OV::System::Win32::CComInitScope com;
    EXPECT_TRUE(OV::System::IsNetworkAvailable());
}

TEST(SystemInfo, NetworkIsUnavailableWhenTheNetworkListCannotBeCreated)
{
    constexpr wchar_t kRole[] = L"OV_TEST_NETWORK_LIST_DISABLED";
    if (_wgetenv(kRole) == nullptr)
    {
        // A copy of this program under a name of its own runs the second half, so that no other test
        // process of the prefix loses the network list.
        CTemporaryFolder folder;
        const std::wstring name = L"ov-network-list-off-" + OV::System::NewGuidText() + L".exe";
        ASSERT_TRUE(::CopyFileW(OV::System::GetModulePath().c_str(), folder.File(name).c_str(), TRUE));
        const CNetworkListSwitchedOff switchedOff(name);
        EXPECT_EQ(0u, RunProgram(folder.File(name),
                                 L"SystemInfo.NetworkIsUnavailableWhenTheNetworkListCannotBeCreated",
                                 std::wstring(kRole) + L"=1"));
        return;
    }
    const OV::System::Win32::CComInitScope com;
    IUnknown* manager = nullptr;
    const HRESULT created = ::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_IUnknown,
                                               reinterpret_cast<void**>(&manager));
    if (manager != nullptr)
        manager->Release();
    ASSERT_TRUE(FAILED(created)) << "the network list could still be created";
    EXPECT_FALSE(OV::System::IsNetworkAvailable());
}

TEST(SystemInfo, NetworkIsUnavailableWithoutCom)
{
    // COM not initialised on this thread: the class cannot be created, which counts as unknown.
    bool available = true;
    std::thread([&] { available = OV::System::IsNetworkAvailable(); }).join();
    EXPECT_FALSE(available);
}

TEST(SystemInfo, ComServerFolderIsTheRegisteredPathUpToItsLastBackslash)
{
    struct Case
    {
        const wchar_t* value;
        const wchar_t* folder;
    };
    const Case cases[] = {
        // Quoted as a whole: the quotes go.
        {L"\"C:\\Program Files (x86)\\Orvane\\Service\\ElevationService.exe\"",
         L"C:\\Program Files (x86)\\Orvane\\Service"},
        // Arguments after the closing quote: not quoted as a whole, so the opening quote stays.
        {L"\"C:\\Program Files (x86)\\Orvane\\Service\\ElevationService.exe\" /service",
         L"\"C:\\Program Files (x86)\\Orvane\\Service"},
        {L"C:\\Orvane\\ElevationService.exe -Embedding", L"C:\\Orvane"},
        {L"ElevationService.exe", L"ElevationService.exe"},
        {L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(OV::WideToAnsi(c.value));
        CTestComRegistration registration;
        registration.SetLocalServer(c.value);
        std::wstring folder = L"stale";
        EXPECT_TRUE(OV::System::GetComServerFolder(registration.Clsid(), folder));
        EXPECT_EQ(c.folder, folder);
    }
}

TEST(SystemInfo, ComServerFolderOfAnUnregisteredOrMalformedClassIsFalseAndEmpty)
{
    CTestComRegistration registration;
    std::wstring folder = L"stale";
    EXPECT_FALSE(OV::System::GetComServerFolder(registration.Clsid(), folder));
    EXPECT_TRUE(folder.empty());

    const DWORD number = 42;
    registration.SetLocalServer(REG_DWORD, &number, sizeof(number));
    folder = L"stale";
    EXPECT_FALSE(OV::System::GetComServerFolder(registration.Clsid(), folder));
    EXPECT_TRUE(folder.empty());

    // Longer than the 520 bytes read: refused rather than cut.
    registration.SetLocalServer(L"C:\\" + std::wstring(300, L'a') + L"\\server.exe");
    folder = L"stale";
    EXPECT_FALSE(OV::System::GetComServerFolder(registration.Clsid(), folder));
    EXPECT_TRUE(folder.empty());
}

TEST(SystemInfo, NewGuidTextIsLowerCaseEightFourFourFourTwelveAndUnique)
{
    const std::wregex format(L"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    std::set<std::wstring> seen;
    for (int i = 0; i < 1000; ++i)
    {
        const std::wstring text = OV::System::NewGuidText();
        ASSERT_TRUE(std::regex_match(text, format)) << OV::WideToAnsi(text);
        seen.insert(text);
    }
    EXPECT_EQ(1000u, seen.size());
}

TEST(SystemInfo, NewGuidTextFieldsAreInTheGuidByteOrder)
{
    // The version nibble of a random UUID sits at the start of the third group, the variant bits at the
    // start of the fourth.
    const std::wstring text = OV::System::NewGuidText();
    EXPECT_EQ(L'4', text[14]) << OV::WideToAnsi(text);
    EXPECT_NE(std::wstring::npos, std::wstring(L"89ab").find(text[19])) << OV::WideToAnsi(text);
}

TEST(SystemInfo, ModulePathAndFolderNameThisProgram)
{
    const std::wstring path = OV::System::GetModulePath();
    const std::wstring name = L"ov_unit_tests.exe";
    ASSERT_GT(path.size(), name.size());
    EXPECT_EQ(name, Lowered(path.substr(path.size() - name.size())));
    EXPECT_TRUE(OV::System::FileExists(path));

    const std::wstring folder = OV::System::GetModuleDirectory();
    EXPECT_EQ(Lowered(path.substr(0, path.rfind(L'\\') + 1)), folder);
    EXPECT_EQ(Lowered(folder), folder);
}

TEST(SystemInfo, FileExistsOnlyForFiles)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(folder.File(L"file.txt"), "x");
    EXPECT_TRUE(OV::System::FileExists(folder.File(L"file.txt")));
    EXPECT_FALSE(OV::System::FileExists(folder.Path()));
    EXPECT_FALSE(OV::System::FileExists(folder.File(L"missing.txt")));
    EXPECT_FALSE(OV::System::FileExists(L""));
}

TEST(SystemInfo, FileSizeIsAllOnesForAMissingFileOrAFolder)
{
    CTemporaryFolder folder;
    EXPECT_EQ(~std::uint64_t{0}, OV::System::GetFileSize(folder.File(L"missing.bin")));
    EXPECT_EQ(~std::uint64_t{0}, OV::System::GetFileSize(folder.Path()));
    OvTest::WriteFileBytes(folder.File(L"empty.bin"), "");
    EXPECT_EQ(0u, OV::System::GetFileSize(folder.File(L"empty.bin")));
}

TEST(SystemInfo, FileSizeIsMeasuredWhileAnotherHandleWritesWithoutSharing)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"busy.bin");
    CFileStream writer(path, FileStreamMode::CreateNew, FileAccessWrite, 0);
    writer.Write("0123456789", 10);
    EXPECT_EQ(10u, OV::System::GetFileSize(path));
}

TEST(SystemInfo, FileSizeAbove4GiBIsReportedWhole)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"large.bin");
    const std::int64_t size = (std::int64_t{5} << 30) + 3;
    {
        // Extending without writing leaves a sparse file: no disk space is used.
        CFileStream stream(path, FileStreamMode::CreateNew, FileAccessWrite);
        stream.SetLength(size);
        EXPECT_EQ(size, stream.GetLength());
    }
    EXPECT_EQ(static_cast<std::uint64_t>(size), OV::System::GetFileSize(path));
}
