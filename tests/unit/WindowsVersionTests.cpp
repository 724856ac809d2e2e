#include "System/Platform.h"
#include "Updater/Trust/WindowsVersion.h"

#include <gtest/gtest.h>

using OV::Updater::Trust::IsWindowsVersionOrGreater;

TEST(IsWindowsVersionOrGreater, ComparesMajorThenMinorThenServicePack)
{
    OSVERSIONINFOEXW running{};
    running.dwOSVersionInfoSize = sizeof(running);
    ASSERT_TRUE(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&running)));
    const auto major = static_cast<unsigned short>(running.dwMajorVersion);
    const auto minor = static_cast<unsigned short>(running.dwMinorVersion);
    const auto pack = static_cast<unsigned short>(running.wServicePackMajor);
    ASSERT_GE(major, 6);

    EXPECT_TRUE(IsWindowsVersionOrGreater(major, minor, pack));
    EXPECT_TRUE(IsWindowsVersionOrGreater(major, 0, 0));
    EXPECT_TRUE(IsWindowsVersionOrGreater(static_cast<unsigned short>(major - 1), 99, 99));
    EXPECT_FALSE(IsWindowsVersionOrGreater(major, static_cast<unsigned short>(minor + 1), 0));
    EXPECT_FALSE(IsWindowsVersionOrGreater(major, minor, static_cast<unsigned short>(pack + 1)));
    EXPECT_FALSE(IsWindowsVersionOrGreater(static_cast<unsigned short>(major + 1), 0, 0));
    // The prefix runs as Windows 10, so the signature-settings extension is used.
    EXPECT_TRUE(IsWindowsVersionOrGreater(6, 2, 0));
}
