#include "CommonAppLogic/GamesAppSettings.h"
#include "System/Io/Directory.h"
#include "System/KnownFolders.h"
#include "System/Win32/Mutex.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using OV::CommonAppLogic::CGamesAppSettings;
using OV::System::Win32::CMutex;
using OV::System::Win32::CMutexLock;

namespace
{

constexpr DWORD kTimeoutMs = 20000;

// The client's real settings file in the prefix. Whatever the prefix had there is put back at the end,
// and the file is changed only under the settings mutex, so that a reader in another test process
// never sees it half written.
class CSettingsFile
{
public:
    CSettingsFile() : m_Path(CGamesAppSettings().GetPath()), m_Mutex(CGamesAppSettings::kMutexName)
    {
        if (OV::System::FileExists(m_Path))
            m_Saved = OV::Tests::ReadFileBytes(m_Path);
    }
    ~CSettingsFile()
    {
        const CMutexLock lock(m_Mutex, kTimeoutMs);
        if (m_Saved)
            OV::Tests::WriteFileBytes(m_Path, *m_Saved);
        else
            ::DeleteFileW(m_Path.c_str());
    }

    void Write(const std::string& bytes)
    {
        const CMutexLock lock(m_Mutex, kTimeoutMs);
        OV::System::IO::CDirectory::CreateParentDirectory(m_Path);
        OV::Tests::WriteFileBytes(m_Path, bytes);
    }

private:
    std::wstring m_Path;
    CMutex m_Mutex;
    std::optional<std::string> m_Saved;
};

} // namespace

TEST(GamesAppSettings, ValuesAreReadFromTheClientsSettingsFile)
{
    EXPECT_EQ(OV::System::GetRoamingAppDataFolder() + L"\\Orvane\\Orvane Games\\App\\Settings\\GamesApp.ini",
              CGamesAppSettings().GetPath());
    CSettingsFile file;
    file.Write("[cookies]\r\nanalytics=1\r\n[General]\r\nname=two words\r\nlong=" + std::string(2000, 'x') +
               "\r\n");
    CGamesAppSettings settings;
    EXPECT_EQ(L"1", settings.GetValue(L"cookies", L"analytics", L"default"));
    EXPECT_EQ(L"two words", settings.GetValue(L"General", L"name", L"default"));
    EXPECT_EQ(L"default", settings.GetValue(L"cookies", L"missing", L"default"));
    EXPECT_EQ(std::wstring(1298, L'x'), settings.GetValue(L"General", L"long", L""));
    ::DeleteFileW(settings.GetPath().c_str());
    EXPECT_EQ(L"default", settings.GetValue(L"cookies", L"analytics", L"default"));
}

TEST(GamesAppSettings, AnAbandonedSettingsMutexThrowsAndIsNotKept)
{
    CSettingsFile file;
    file.Write("[cookies]\r\nanalytics=1\r\n");
    // Our handle keeps the mutex alive after the helper that abandons it has gone.
    CMutex mutex(CGamesAppSettings::kMutexName);
    {
        OV::Tests::CHelperProcess helper(L"abandon-mutex " + std::wstring(CGamesAppSettings::kMutexName));
        ASSERT_TRUE(helper.WaitForExit(kTimeoutMs));
        ASSERT_EQ(0u, helper.GetExitCode());
    }
    CGamesAppSettings settings;
    const auto e =
        OV::Tests::CatchException([&] { settings.GetValue(L"cookies", L"analytics", L"default"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(0u, e->GetMessageText().rfind(L"Wait Failed:", 0));
    EXPECT_EQ(L"1", settings.GetValue(L"cookies", L"analytics", L"default"));
}
