#include "CommonAppLogic/IniFile.h"
#include "CommonAppLogic/ProfileReaders.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"
#include "CatchException.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OV::CommonAppLogic::CIniFile;
using OV::CommonAppLogic::GetProfileKeys;
using OV::CommonAppLogic::GetProfileString;
using OV::Tests::CatchException;
using OvTest::CTemporaryFolder;

namespace
{

// The text as a UTF-16 little-endian file with its byte-order mark, the form in which the profile calls
// read any character.
std::string Utf16File(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (const wchar_t c : text)
    {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

const std::wstring kNonAscii = L"Gr\u00FC\u00DFe \u6771\u4EAC \u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u20AC";

} // namespace

TEST(ProfileReaders, KeysOfASectionInFileOrder)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(folder.File(L"a.ini"), "[s]\r\nzeta=1\r\nalpha=2\r\nmid=3\r\n[t]\r\nother=4\r\n");
    EXPECT_EQ((std::vector<std::wstring>{L"zeta", L"alpha", L"mid"}),
              GetProfileKeys(L"s", 1298, folder.File(L"a.ini")));
    EXPECT_TRUE(GetProfileKeys(L"missing", 1298, folder.File(L"a.ini")).empty());
    EXPECT_TRUE(GetProfileKeys(L"s", 1298, folder.File(L"missing.ini")).empty());
}

TEST(ProfileReaders, KeysThatDoNotFitTheBufferAreLeftOut)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(folder.File(L"a.ini"), "[s]\r\nfirst=1\r\nsecond=2\r\nthird=3\r\n");
    // "first", NUL, "second", NUL fill 13 characters; "third" no longer fits.
    const std::vector<std::wstring> keys = GetProfileKeys(L"s", 14, folder.File(L"a.ini"));
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(L"first", keys[0]);
    EXPECT_EQ(L"second", keys[1]);
    EXPECT_LE(keys.size(), 3u);
    if (keys.size() == 3)
    {
        EXPECT_NE(L"third", keys[2]); // at most a cut piece of it
    }
}

TEST(ProfileReaders, StringIsTheValueOrTheDefaultAndFitsTheBuffer)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    OvTest::WriteFileBytes(path, "[s]\r\nkey=a value with blanks\r\nempty=\r\n");
    EXPECT_EQ(L"a value with blanks", GetProfileString(L"s", L"key", L"dflt", 1299, path));
    EXPECT_EQ(L"", GetProfileString(L"s", L"empty", L"dflt", 1299, path));
    EXPECT_EQ(L"dflt", GetProfileString(L"s", L"missing", L"dflt", 1299, path));
    EXPECT_EQ(L"dflt", GetProfileString(L"missing", L"key", L"dflt", 1299, path));
    EXPECT_EQ(L"dflt", GetProfileString(L"s", L"key", L"dflt", 1299, folder.File(L"missing.ini")));
    EXPECT_EQ(L"a va", GetProfileString(L"s", L"key", L"", 5, path));
}

TEST(IniFile, LoadOfAMissingFileLeavesItEmptyAndLoadFileThrows)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.File(L"missing.ini"));
    EXPECT_TRUE(ini.GetContent().empty());
    EXPECT_EQ(folder.File(L"missing.ini"), ini.GetPath());

    const auto e = CatchException([&] { ini.LoadFile(); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(L"File does not exist in CIniFile::LoadFile", e->GetMessageText());
    EXPECT_EQ("OV::CommonAppLogic::CIniFile::LoadFile", e->GetFunction());
    EXPECT_EQ("Ov\\CommonAppLogic\\IniFile.cpp", e->GetSourceFile());
}

TEST(IniFile, AFolderWhereTheFileIsExpectedCountsAsMissing)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.Path());
    EXPECT_TRUE(ini.GetContent().empty());
    EXPECT_TRUE(CatchException([&] { ini.LoadFile(); }).has_value());
}

TEST(IniFile, LoadReadsEverySectionKeyAndValue)
{
    CTemporaryFolder folder;
    OvTest::WriteFileBytes(
        folder.File(L"a.ini"),
        "[cookies]\r\nanalytics=1\r\nmarketing = 0 \r\n[General]\r\nname=two words here\r\n"
        "[empty]\r\n");
    CIniFile ini;
    ini.Load(folder.File(L"a.ini"));
    const CIniFile::Content expected = {
        {L"General", {{L"name", L"two words here"}}},
        {L"cookies", {{L"analytics", L"1"}, {L"marketing", L"0"}}},
        {L"empty", {}},
    };
    EXPECT_EQ(expected, ini.GetContent());
}

TEST(IniFile, MissingSectionOrKeyIsCreatedEmptyAndSaved)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    OvTest::WriteFileBytes(path, "[s]\r\nk=v\r\n");
    CIniFile ini;
    ini.Load(path);
    EXPECT_EQ(L"v", ini.GetValue(L"s", L"k"));
    EXPECT_EQ(L"", ini.GetValue(L"s", L"new"));
    EXPECT_EQ(L"", ini.GetValue(L"t", L"x"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ("[s]\r\nk=v\r\nnew=\r\n[t]\r\nx=\r\n", OvTest::ReadFileBytes(path));
}

TEST(IniFile, SaveWritesUtf8WithoutByteOrderMarkInNameOrder)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.File(L"new.ini"));
    ini.Set(L"b", L"z", L"1");
    ini.Set(L"b", L"a", L"2 and 3");
    ini.Set(L"B", L"k", L"upper");
    ini.Set(L"a", L"k", L"\u00E9\u20AC");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ("[B]\r\nk=upper\r\n[a]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n[b]\r\na=2 and 3\r\nz=1\r\n",
              OvTest::ReadFileBytes(folder.File(L"new.ini")));
}

TEST(IniFile, SaveReplacesALongerFileWhole)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    OvTest::WriteFileBytes(path, "[s]\r\nk=" + std::string(5000, 'x') + "\r\n");
    CIniFile ini;
    ini.Load(path);
    ini.Set(L"s", L"k", L"short");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ("[s]\r\nk=short\r\n", OvTest::ReadFileBytes(path));
}

TEST(IniFile, SaveToAnUncreatableFileReportsFalseAndWritesNothing)
{
    CTemporaryFolder folder;
    CIniFile ini;
    ini.Load(folder.File(L"no such folder\\a.ini"));
    ini.Set(L"s", L"k", L"v");
    EXPECT_FALSE(ini.Save());

    // A file that another handle holds without sharing cannot be replaced either, and keeps its text.
    const std::wstring busy = folder.File(L"busy.ini");
    OvTest::WriteFileBytes(busy, "[s]\r\nk=old\r\n");
    {
        const OV::System::Win32::CHandleHolder holder(::CreateFileW(
            busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.IsValid());
        CIniFile other;
        other.Load(busy);
        other.Set(L"s", L"k", L"new");
        EXPECT_FALSE(other.Save());
    }
    EXPECT_EQ("[s]\r\nk=old\r\n", OvTest::ReadFileBytes(busy));
}

TEST(IniFile, BlanksInsideValuesSurviveSaveAndLoad)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    CIniFile ini;
    ini.Load(path);
    ini.Set(L"section with blanks", L"key with blanks", L"value  with   blanks");
    ASSERT_TRUE(ini.Save());
    CIniFile back;
    back.Load(path);
    EXPECT_EQ(ini.GetContent(), back.GetContent());
}

TEST(IniFile, NonAsciiUtf16FileIsReadExactly)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    OvTest::WriteFileBytes(path, Utf16File(L"[\u6771\u4EAC]\r\n\u00E9t\u00E9=" + kNonAscii + L"\r\n"));
    CIniFile ini;
    ini.Load(path);
    EXPECT_EQ(kNonAscii, ini.GetValue(L"\u6771\u4EAC", L"\u00E9t\u00E9"));
}

// The profile calls read a file without byte-order mark in the ANSI code page, so UTF-8 text written by
// Save comes back as its bytes in that code page; only ASCII text survives the round trip unchanged.
TEST(IniFile, NonAsciiTextSavedAsUtf8IsReadBackThroughTheAnsiCodePage)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    CIniFile ini;
    ini.Load(path);
    ini.Set(L"s", L"k", kNonAscii);
    ini.Set(L"s", L"ascii", L"plain text");
    ASSERT_TRUE(ini.Save());
    CIniFile back;
    back.Load(path);
    EXPECT_EQ(OV::MBCSToUtf16_CP(CP_ACP, OV::Utf16ToUtf8(kNonAscii)), back.GetValue(L"s", L"k"));
    EXPECT_NE(kNonAscii, back.GetValue(L"s", L"k"));
    EXPECT_EQ(L"plain text", back.GetValue(L"s", L"ascii"));
}

TEST(IniFile, ValuesLongerThan518CharactersAreCut)
{
    CTemporaryFolder folder;
    const std::wstring path = folder.File(L"a.ini");
    std::wstring longValue;
    for (int i = 0; i < 600; ++i)
        longValue += static_cast<wchar_t>(L'a' + i % 26);
    CIniFile ini;
    ini.Load(path);
    ini.Set(L"s", L"long", longValue);
    ini.Set(L"s", L"exact", longValue.substr(0, 518));
    ASSERT_TRUE(ini.Save());
    CIniFile back;
    back.Load(path);
    EXPECT_EQ(longValue.substr(0, 518), back.GetValue(L"s", L"long"));
    EXPECT_EQ(longValue.substr(0, 518), back.GetValue(L"s", L"exact"));
}

