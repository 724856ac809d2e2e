#include "System/Win32/Elevation.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::Win32::IsProcessElevated;
using OV::System::Win32::StartProcessUnelevated;

TEST(Elevation, AProcessStartedWithTheLinkedTokenIsNotElevatedAndRuns)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    const std::wstring commandLine = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 7";
    // Wine runs every process elevated whatever its manifest says, this one too.
    EXPECT_TRUE(IsProcessElevated());

    OV::System::Win32::StartedProcess child = StartProcessUnelevated(commandLine, CREATE_SUSPENDED);
    ASSERT_TRUE(child.Process.IsValid());
    EXPECT_FALSE(IsProcessElevated(child.Process.Get()));
    ::ResumeThread(child.Thread.Get());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Process.Get(), 60000));
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
}
