#include "System/Exception.h"
#include "System/Io/Directory.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Log.h"
#include "System/Stopwatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

using OV::System::CLog;
using OV::System::CStopwatch;

namespace
{

std::string ReadAll(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

TEST(Log, HeaderTimeFormat)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 4;
    time.wDayOfWeek = 5;
    time.wHour = 21;
    time.wMinute = 7;
    time.wSecond = 2;
    EXPECT_EQ(L"Fri, 4 Dec 2026 21:07:02 UT", CLog::FormatHeaderTime(time));
    time.wMonth = 1;
    time.wDayOfWeek = 0;
    time.wDay = 31;
    EXPECT_EQ(L"Sun, 31 Jan 2026 21:07:02 UT", CLog::FormatHeaderTime(time));
}

TEST(Log, EachOpeningAppendsOneHeaderLine)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = OV::System::IO::CFilePath::Combine(temp, L"ov-log-test\\nested");
    const std::wstring path = folder + L"\\run.log";
    ::DeleteFileW(path.c_str());

    CLog::SetOutputFile(path, false);
    CLog::SetOutputFile(path, false);
    EXPECT_EQ(path, CLog::GetOutputFile());
    const std::regex header(
        "-{80}(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d{1,2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} UT");
    const std::string twice = ReadAll(path);
    const size_t split = twice.find("\r\n");
    ASSERT_NE(std::string::npos, split);
    EXPECT_TRUE(std::regex_match(twice.substr(0, split), header)) << twice;
    EXPECT_EQ(twice.size(), 2 * (split + 2)) << "two header lines, CR LF each";

    CLog::SetOutputFile(path, true);
    EXPECT_EQ(split + 2, ReadAll(path).size()) << "deleting first leaves one line";
    ::DeleteFileW(path.c_str());
}

TEST(Log, DefaultFileIsNamedAfterTheModule)
{
    CLog::GetOutputFile(); // first use writes the default file's header
    const std::wstring logs =
        OV::System::IO::CFilePath::Combine(OV::System::GetRoamingAppDataFolder(nullptr), L"Orvane\\Logs");
    const std::string content = ReadAll(logs + L"\\ov_unit_tests.exe.log");
    EXPECT_EQ(0u, content.find(std::string(80, '-')));
}

TEST(Log, EmptyPathThrowsBeforeAnythingIsStored)
{
    const std::wstring before = CLog::GetOutputFile();
    try
    {
        CLog::SetOutputFile(L"", false);
        FAIL() << "no exception";
    }
    catch (const OV::System::CException& e)
    {
        EXPECT_EQ(L"Empty path", e.GetMessageText());
    }
    EXPECT_EQ(before, CLog::GetOutputFile());
}

TEST(KnownFolders, MakerFoldersByIndex)
{
    EXPECT_EQ(L"Orvane", OV::System::GetMakerFolder(0));
    EXPECT_EQ(L"Orvane\\Orvane Games\\App", OV::System::GetMakerFolder(1));
    EXPECT_EQ(L"Orvane\\Orvane Games\\Integration", OV::System::GetMakerFolder(2));
    EXPECT_EQ(L"", OV::System::GetMakerFolder(3));
    EXPECT_EQ(L"", OV::System::GetMakerFolder(-1));
    EXPECT_EQ(L"C:\\x\\Orvane", OV::System::GetMakerFolderUnder(L"C:\\x", 0));
    const std::wstring roaming = OV::System::GetRoamingAppDataFolder(nullptr);
    ASSERT_FALSE(roaming.empty());
    EXPECT_NE(L'\\', roaming.back());
    EXPECT_TRUE(OV::System::IO::CDirectory::Exists(roaming));
}

TEST(Stopwatch, StatesAndElapsedTime)
{
    CStopwatch watch;
    EXPECT_EQ(CStopwatch::Stopped, watch.GetState());
    EXPECT_EQ(0u, watch.GetElapsedMs());
    watch.Pause(); // only from running
    EXPECT_EQ(CStopwatch::Stopped, watch.GetState());

    watch.Start();
    ::Sleep(60);
    watch.Pause();
    const auto atPause = watch.GetElapsedMs();
    EXPECT_GE(atPause, 40u);
    ::Sleep(60);
    EXPECT_EQ(atPause, watch.GetElapsedMs()) << "paused time does not count";
    watch.Start();
    ::Sleep(20);
    const auto resumed = watch.GetElapsedMs();
    EXPECT_GE(resumed, atPause);
    EXPECT_LT(resumed, atPause + 2000);
    watch.Reset();
    EXPECT_EQ(0u, watch.GetElapsedMs());
}
