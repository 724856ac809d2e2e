#include "CommonAppLogic/IniFile.h"
#include "CommonAppLogic/ProfileReaders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OV::CommonAppLogic::CIniFile;
using OV::CommonAppLogic::GetProfileKeys;
using OV::CommonAppLogic::GetProfileString;
using OV::Tests::CTemporaryFolder;
using OV::Tests::ReadFileBytes;
using OV::Tests::WriteFileBytes;

TEST(ProfileReaders, KeysInFileOrderAndStringsOrTheDefaultThatFitTheBuffer)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    WriteFileBytes(path, "[s]\r\nzeta=1\r\nalpha=a value\r\nempty=\r\n[t]\r\nother=4\r\n");
    EXPECT_EQ((std::vector<std::wstring>{L"zeta", L"alpha", L"empty"}), GetProfileKeys(L"s", 1298, path));
    EXPECT_TRUE(GetProfileKeys(L"s", 1298, folder.File(L"missing.ini")).empty());
    EXPECT_EQ(L"a value", GetProfileString(L"s", L"alpha", L"dflt", 1299, path));
    EXPECT_EQ(L"", GetProfileString(L"s", L"empty", L"dflt", 1299, path));
    EXPECT_EQ(L"dflt", GetProfileString(L"s", L"missing", L"dflt", 1299, path));
    EXPECT_EQ(L"a va", GetProfileString(L"s", L"alpha", L"", 5, path));
}

TEST(IniFile, LoadReadsEverythingAndMissingEntriesAreCreatedEmpty)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    WriteFileBytes(
        path, "[cookies]\r\nanalytics=1\r\nmarketing = 0 \r\n[General]\r\nname=two words\r\n[empty]\r\n");
    CIniFile ini;
    ini.Load(path);
    const CIniFile::Content expected = {
        {L"General", {{L"name", L"two words"}}},
        {L"cookies", {{L"analytics", L"1"}, {L"marketing", L"0"}}},
        {L"empty", {}},
    };
    EXPECT_EQ(expected, ini.GetContent());
    EXPECT_EQ(L"", ini.GetValue(L"cookies", L"new"));
    EXPECT_EQ(L"", ini.GetValue(L"t", L"x"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ("[General]\r\nname=two words\r\n[cookies]\r\nanalytics=1\r\nmarketing=0\r\nnew=\r\n[empty]\r\n"
              "[t]\r\nx=\r\n",
              ReadFileBytes(path));
}

TEST(IniFile, SaveWritesUtf8WithoutByteOrderMarkInNameOrderAndCutsLongValues)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.File(L"new.ini"));
    EXPECT_TRUE(ini.GetContent().empty());
    ini.Set(L"b", L"z", L"1");
    ini.Set(L"b", L"a", L"2 and 3");
    ini.Set(L"B", L"k", L"upper");
    ini.Set(L"a", L"k", L"\u00E9\u20AC");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ("[B]\r\nk=upper\r\n[a]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n[b]\r\na=2 and 3\r\nz=1\r\n",
              ReadFileBytes(folder.File(L"new.ini")));

    ini.Set(L"a", L"long", std::wstring(600, L'x'));
    ASSERT_TRUE(ini.Save());
    CIniFile back;
    back.Load(folder.File(L"new.ini"));
    EXPECT_EQ(std::wstring(518, L'x'), back.GetValue(L"a", L"long"));
}

TEST(IniFile, AFileThatCannotBeWrittenOrReadIsReported)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.File(L"no such folder\\a.ini"));
    ini.Set(L"s", L"k", L"v");
    EXPECT_FALSE(ini.Save());
    const auto e = OV::Tests::CatchException([&] { ini.LoadFile(); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"File does not exist in CIniFile::LoadFile", e->GetMessageText());

    // A file that another handle holds without sharing cannot be replaced, and keeps its text.
    const std::wstring busy = folder.File(L"busy.ini");
    WriteFileBytes(busy, "[s]\r\nk=old\r\n");
    {
        const OV::System::Win32::CHandleHolder holder(::CreateFileW(
            busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        CIniFile other;
        other.Load(busy);
        other.Set(L"s", L"k", L"new");
        EXPECT_FALSE(other.Save());
    }
    EXPECT_EQ("[s]\r\nk=old\r\n", ReadFileBytes(busy));
}
