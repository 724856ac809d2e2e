#include "System/Log.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

using OV::System::CLog;

TEST(Log, HeaderTimeFormat)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 1;
    time.wDay = 4;
    time.wDayOfWeek = 0;
    time.wHour = 21;
    time.wMinute = 7;
    time.wSecond = 2;
    EXPECT_EQ(L"Sun, 4 Jan 2026 21:07:02 UT", CLog::FormatHeaderTime(time));
}

TEST(Log, EachOpeningAppendsOneHeaderLineAndDeletingFirstLeavesOne)
{
    OV::Tests::CTemporaryFolder folder;
    const std::wstring path = folder.File(L"nested\\run.log");
    CLog::SetOutputFile(path, false);
    CLog::SetOutputFile(path, false);
    EXPECT_EQ(path, CLog::GetOutputFile());
    const std::regex header(
        "-{80}(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d{1,2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} UT\r\n");
    const std::string twice = OV::Tests::ReadFileBytes(path);
    const std::string line = twice.substr(0, twice.size() / 2);
    EXPECT_TRUE(std::regex_match(line, header)) << twice;
    EXPECT_EQ(line + line, twice);

    CLog::SetOutputFile(path, true);
    EXPECT_EQ(line.size(), OV::Tests::ReadFileBytes(path).size());
}
