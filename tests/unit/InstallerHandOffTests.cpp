#include "Updater/InstallerHandOff.h"

#include <gtest/gtest.h>

using namespace OV::Updater;

TEST(HandOffCommandLines, InstallerParametersNameTheParkingCopy)
{
    EXPECT_EQ(L"/park=\"C:\\d\\\\Park-{x}.exe\"", InstallerParameters(L"C:\\d\\\\Park-{x}.exe", L""));
    EXPECT_EQ(L"/park=\"C:\\p.exe\" /S \"/D=C:\\My Games\"",
              InstallerParameters(L"C:\\p.exe", L"/S \"/D=C:\\My Games\""));
}

TEST(HandOffCommandLines, ParkingParametersCarryPartnerOrApplicationArguments)
{
    EXPECT_EQ(L"/Execute \"C:\\PF\\Orvane Games\\App\\PlayDock-ov.exe\" /LaunchParams \"/noupdate! "
              L"/userlocale de-DE "
              L"/dp fablewick\" /EventTerminate \"Global\\OVPARKTERM\" /EventExecute \"Global\\OVPARKEXEC\"",
              ParkingParameters(L"C:\\PF\\Orvane Games\\App\\PlayDock-ov.exe", L"de-DE", L"", L"fablewick"));
    EXPECT_EQ(L"/Execute \"c.exe\" /LaunchParams \"/noupdate! /userlocale en -x y\" /EventTerminate "
              L"\"Global\\OVPARKTERM\" /EventExecute \"Global\\OVPARKEXEC\"",
              ParkingParameters(L"c.exe", L"en", L"-x y", L"ignored"));
    EXPECT_STREQ(L"/EventTerminate \"Global\\OVPARKTERM\" /SignalTerminate", kParkingStopParameters);
}

TEST(HandOffCommandLines, InstallerFolderKeepsItsBackslash)
{
    EXPECT_EQ(L"C:\\d\\", InstallerFolder(L"C:\\d\\setup.exe"));
    EXPECT_EQ(L"setup.exe\\", InstallerFolder(L"setup.exe"));
}

TEST(HandOffProgress, InstallValueMapsOntoTheUpperWindowRange)
{
    EXPECT_EQ(74, InstallProgressPosition(L"42.5"));
    EXPECT_EQ(55, InstallProgressPosition(L"0"));
    EXPECT_EQ(100, InstallProgressPosition(L"99.9"));
    EXPECT_EQ(-1, InstallProgressPosition(L"100"));
    EXPECT_EQ(-1, InstallProgressPosition(L"100.0"));
    EXPECT_EQ(-1, InstallProgressPosition(L"250"));
    EXPECT_EQ(55, InstallProgressPosition(L"")) << "unreadable counts as 0";
    EXPECT_EQ(55, InstallProgressPosition(L"abc"));
    EXPECT_EQ(60, InstallProgressPosition(L"  10.5% done"));
    EXPECT_EQ(47, InstallProgressPosition(L"-20")) << "truncation is towards zero";
}
