#include "CommonAppLogic/GamesAppSettings.h"
#include "HelperProcess.h"
#include "System/Io/Directory.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"
#include "System/Win32/Event.h"
#include "System/Win32/Mutex.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>

using OV::CommonAppLogic::CGamesAppSettings;
using OV::System::Win32::CEvent;
using OV::System::Win32::CMutex;
using OV::System::Win32::CMutexLock;
using OV::Tests::CatchException;
using OV::Tests::CHelperProcess;
using OV::Tests::UniqueObjectName;

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
            m_Saved = OvTest::ReadFileBytes(m_Path);
    }
    ~CSettingsFile()
    {
        if (m_Saved)
            Write(*m_Saved);
        else
            Remove();
    }
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;

    void Write(const std::string& bytes)
    {
        const CMutexLock lock(m_Mutex, kTimeoutMs);
        OV::System::IO::CDirectory::CreateParentDirectory(m_Path);
        OvTest::WriteFileBytes(m_Path, bytes);
    }

    void Remove()
    {
        const CMutexLock lock(m_Mutex, kTimeoutMs);
        ::DeleteFileW(m_Path.c_str());
    }

private:
    std::wstring m_Path;
    CMutex m_Mutex;
    std::optional<std::string> m_Saved;
};

} // namespace

TEST(GamesAppSettings, FileIsTheClientsSettingsFileInRoamingAppData)
{
    EXPECT_EQ(OV::System::GetRoamingAppDataFolder() + L"\\Orvane\\Orvane Games\\App\\Settings\\GamesApp.ini",
              CGamesAppSettings().GetPath());
}

TEST(GamesAppSettings, MissingFileGivesTheDefault)
{
    CSettingsFile file;
    file.Remove();
    CGamesAppSettings settings;
    EXPECT_EQ(L"default", settings.GetValue(L"cookies", L"analytics", L"default"));
}

TEST(GamesAppSettings, ValuesAreReadFromTheFile)
{
    CSettingsFile file;
    const std::string longValue(2000, 'x');
    file.Write("[cookies]\r\nanalytics=1\r\nmarketing=0\r\n[General]\r\nname=two words\r\nlong=" + longValue +
               "\r\n");
    CGamesAppSettings settings;
    EXPECT_EQ(L"1", settings.GetValue(L"cookies", L"analytics", L"default"));
    EXPECT_EQ(L"0", settings.GetValue(L"cookies", L"marketing", L"default"));
    EXPECT_EQ(L"two words", settings.GetValue(L"General", L"name", L"default"));
    EXPECT_EQ(L"default", settings.GetValue(L"cookies", L"missing", L"default"));
    EXPECT_EQ(L"default", settings.GetValue(L"missing", L"analytics", L"default"));
    EXPECT_EQ(std::wstring(1298, L'x'), settings.GetValue(L"General", L"long", L""));
}

TEST(GamesAppSettings, GetValueWaitsUntilAnotherProcessReleasesTheMutex)
{
    CSettingsFile file;
    file.Write("[cookies]\r\nanalytics=1\r\n");

    const std::wstring ready = UniqueObjectName(L"settings-ready");
    const std::wstring release = UniqueObjectName(L"settings-release");
    CEvent readyEvent(false, true, ready);
    CEvent releaseEvent(false, true, release);
    CHelperProcess helper(L"hold-mutex " + std::wstring(CGamesAppSettings::kMutexName) + L" 60000 --ready " +
                          ready + L" --release " + release);
    ASSERT_EQ(WAIT_OBJECT_0, readyEvent.Wait(kTimeoutMs));

    using Clock = std::chrono::steady_clock;
    std::future<std::pair<std::wstring, Clock::time_point>> reading =
        std::async(std::launch::async,
                   []
                   {
                       CGamesAppSettings settings;
                       std::wstring value = settings.GetValue(L"cookies", L"analytics", L"default");
                       return std::make_pair(value, Clock::now());
                   });
    EXPECT_EQ(std::future_status::timeout, reading.wait_for(std::chrono::milliseconds(700)));

    const Clock::time_point released = Clock::now();
    releaseEvent.Set();
    ASSERT_EQ(std::future_status::ready, reading.wait_for(std::chrono::milliseconds(kTimeoutMs)));
    const auto [value, returned] = reading.get();
    EXPECT_EQ(L"1", value);
    EXPECT_GE(returned, released);
    ASSERT_TRUE(helper.WaitForExit(kTimeoutMs));
    EXPECT_EQ(0u, helper.GetExitCode());
}

TEST(GamesAppSettings, AnAbandonedMutexThrows)
{
    CSettingsFile file;
    file.Write("[cookies]\r\nanalytics=1\r\n");
    // Our handle keeps the mutex alive after the helper that abandons it has gone.
    CMutex mutex(CGamesAppSettings::kMutexName);
    {
        CHelperProcess helper(L"abandon-mutex " + std::wstring(CGamesAppSettings::kMutexName));
        ASSERT_TRUE(helper.WaitForExit(kTimeoutMs));
        ASSERT_EQ(0u, helper.GetExitCode());
    }
    CGamesAppSettings settings;
    const auto e = CatchException([&] { settings.GetValue(L"cookies", L"analytics", L"default"); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(0u, e->GetMessageText().rfind(L"Wait Failed:", 0));
    EXPECT_EQ("OV::System::Win32::CMutex::Wait", e->GetFunction());
    // Nothing stays held after the failure: another process takes the mutex, and the next read works.
    CHelperProcess taker(L"hold-mutex " + std::wstring(CGamesAppSettings::kMutexName) + L" 0");
    ASSERT_TRUE(taker.WaitForExit(kTimeoutMs));
    EXPECT_EQ(0u, taker.GetExitCode());
    EXPECT_EQ(L"1", settings.GetValue(L"cookies", L"analytics", L"default"));
}
