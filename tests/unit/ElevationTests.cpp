#include "System/Win32/Elevation.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::Win32::CHandleHolder;
using OV::System::Win32::IsProcessElevated;
using OV::System::Win32::StartProcessUnelevated;

// Wine runs every process with a full (elevated) administrator token whatever its manifest says.
TEST(Elevation, ThisProcessRunsElevatedUnderWine)
{
    EXPECT_TRUE(IsProcessElevated());
    EXPECT_TRUE(IsProcessElevated(::GetCurrentProcess()));
}

TEST(Elevation, AHandleThatIsNoProcessGivesFalse)
{
    const CHandleHolder event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.IsValid());
    EXPECT_FALSE(IsProcessElevated(event.Get()));
}

TEST(Elevation, AProcessStartedWithTheLinkedTokenIsNotElevatedAndRuns)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    const std::wstring commandLine = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 7";

    OV::System::Win32::StartedProcess child = StartProcessUnelevated(commandLine, CREATE_SUSPENDED);
    ASSERT_TRUE(child.Process.IsValid());
    const bool childElevated = IsProcessElevated(child.Process.Get());
    ::ResumeThread(child.Thread.Get());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Process.Get(), 60000));
    EXPECT_FALSE(childElevated);
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(child.Process.Get(), &exitCode));
    EXPECT_EQ(7u, exitCode);
}

TEST(Elevation, AStartThatFailsThrowsWithTheCommandLine)
{
    const std::wstring commandLine = L"C:\\no\\such\\program-" + OV::System::NewGuidText() + L".exe";
    const auto e = OV::Tests::CatchException([&] { StartProcessUnelevated(commandLine); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"CreateProcessAsUserW failed for " + commandLine, e->GetMessageText());
    EXPECT_EQ("OV::System::Win32::StartProcessUnelevated", e->GetFunction());
    EXPECT_EQ("Ov\\System\\Win32\\Elevation.cpp", e->GetSourceFile());
    EXPECT_NE(0u, e->GetLastErrorCode());
}
