#include "CatchException.h"

#include "System/ErrorText.h"
#include "System/Platform.h"
#include "System/Win32/RegistryKey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using OV::System::Win32::CRegistryKey;
using OV::System::Win32::IsDebuggingFlagSet;
using OV::System::Win32::RegistryReadFlag;
using OV::System::Win32::RegistryReadUint32;
using OV::Tests::CatchException;

namespace
{

constexpr char kSource[] = "Ov\\System\\Win32\\RegistryKey.cpp";
constexpr char kConstructor[] = "OV::System::Win32::CRegistryKey::CRegistryKey";

bool RegistryKeyExists(HKEY root, const wchar_t* subkey)
{
    HKEY key = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(root, subkey, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// A key of the test prefix's registry, unique to the running test, removed with everything below it when the
// test ends. subkey is the path below the root, e.g. "Software\OrvaneTests\1234-ReadsStrings".
class CScratchKey
{
public:
    CScratchKey(HKEY root, const std::wstring& rootName) : m_Root(root)
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_Subkey = L"Software\\OrvaneTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                   std::wstring(test->name(), test->name() + std::char_traits<char>::length(test->name()));
        m_Path = rootName + L"\\" + m_Subkey;
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(m_Root, m_Subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &key, nullptr));
        ::RegCloseKey(key);
    }
    ~CScratchKey()
    {
        ::RegDeleteTreeW(m_Root, m_Subkey.c_str());
        // Fails, as it should, while other tests still have keys there.
        ::RegDeleteKeyW(m_Root, L"Software\\OrvaneTests");
    }

    const std::wstring& Path() const { return m_Path; }
    const std::wstring& Subkey() const { return m_Subkey; }

    // Stores raw bytes of any type, so that tests can write what CRegistryKey itself never writes.
    void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD byteCount) const
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetKeyValueW(m_Root, m_Subkey.c_str(), name.c_str(), type, data, byteCount));
    }

    bool Exists() const { return RegistryKeyExists(m_Root, m_Subkey.c_str()); }

private:
    HKEY m_Root;
    std::wstring m_Subkey;
    std::wstring m_Path;
};

std::wstring ReadFailure(const std::wstring& valuePath)
{
    return L"RegQueryValueEx failure reading registry value '" + valuePath + L"'.";
}

} // namespace

TEST(RegistryKeyPath, LongAndShortRootNamesInAnyCaseNameTheSameKey)
{
    const struct
    {
        HKEY root;
        std::wstring written;
        std::vector<std::wstring> readers;
    } cases[] = {
        {HKEY_LOCAL_MACHINE,
         L"HKEY_LOCAL_MACHINE",
         {L"HKLM", L"hklm", L"hkey_local_machine", L"HKey_Local_Machine"}},
        {HKEY_CURRENT_USER, L"HKCU", {L"HKEY_CURRENT_USER", L"hkcu", L"Hkey_Current_User"}},
    };
    for (const auto& item : cases)
    {
        CScratchKey scratch(item.root, item.written);
        {
            CRegistryKey writer(scratch.Path(), false, 0);
            EXPECT_FALSE(writer.IsPredefinedRoot());
            writer.SetString(L"Name", L"written through " + item.written);
        }
        for (const std::wstring& rootName : item.readers)
        {
            SCOPED_TRACE(rootName);
            const CRegistryKey reader(rootName + L"\\" + scratch.Subkey(), true, 0);
            EXPECT_EQ(L"written through " + item.written, reader.GetString(L"Name", L"missing"));
            EXPECT_EQ(rootName + L"\\" + scratch.Subkey(), reader.GetPath());
        }
    }
}

TEST(RegistryKeyPath, RootNameAloneWrapsTheRootWithoutClosingIt)
{
    const struct
    {
        const wchar_t* path;
        HKEY root;
    } cases[] = {
        {L"HKLM", HKEY_LOCAL_MACHINE},  {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKCU", HKEY_CURRENT_USER},   {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKCR", HKEY_CLASSES_ROOT},   {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCC", HKEY_CURRENT_CONFIG}, {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {L"HKU", HKEY_USERS},           {L"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& item : cases)
    {
        SCOPED_TRACE(item.path);
        for (const bool openExisting : {true, false})
        {
            const CRegistryKey key(item.path, openExisting, 0);
            EXPECT_TRUE(key.IsPredefinedRoot());
            EXPECT_EQ(item.root, key.GetHandle());
        }
    }
    // The root still works after the wrappers have gone.
    CScratchKey scratch(HKEY_LOCAL_MACHINE, L"HKLM");
    EXPECT_TRUE(scratch.Exists());
    const CRegistryKey software(L"HKLM\\Software", true, 0);
    EXPECT_FALSE(software.IsPredefinedRoot());
}

TEST(RegistryKeyPath, UnknownRootNameFailsQuotingTheWholePath)
{
    for (const std::wstring path : {L"HKEY_FOO\\X", L"", L"HKLMX\\Software", L"\\Software",
                                    L"Software\\Orvane", L"HKEY_LOCAL_MACHINE_\\Software"})
    {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        for (const bool openExisting : {true, false})
        {
            const auto failure = CatchException([&] { CRegistryKey key(path, openExisting, 0); });
            ASSERT_TRUE(failure);
            EXPECT_EQ(L"Base key in '" + path + L"'is not a predefined key.", failure->GetMessageText());
            EXPECT_EQ(kConstructor, failure->GetFunction());
            EXPECT_EQ(kSource, failure->GetSourceFile());
            EXPECT_EQ(45, failure->GetLine());
        }
    }
}

TEST(RegistryKeyOpen, MissingKeyFailsToOpenButIsCreatedOnRequest)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const std::wstring path = scratch.Path() + L"\\Not\\There";
    const auto failure = CatchException([&] { CRegistryKey key(path, true, 0); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"RegOpenKeyExW failure opening registry key '" + path + L"'.", failure->GetMessageText());
    EXPECT_EQ(kConstructor, failure->GetFunction());
    EXPECT_EQ(62, failure->GetLine());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND), failure->GetLastErrorCode());

    {
        CRegistryKey created(path, false, 0); // creates both missing levels
        created.SetUint32(L"Level", 2);
    }
    EXPECT_EQ(2u, CRegistryKey(path, true, 0).GetUint32(L"Level", 0));
}

TEST(RegistryKeyOpen, CreateFailureNamesTheKey)
{
    // A key name longer than the registry allows (255 characters) cannot be created.
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const std::wstring path = scratch.Path() + L"\\" + std::wstring(300, L'k');
    const auto failure = CatchException([&] { CRegistryKey key(path, false, 0); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"RegCreateKeyEx failure creating registry key '" + path + L"'.", failure->GetMessageText());
    EXPECT_EQ(kConstructor, failure->GetFunction());
    EXPECT_EQ(71, failure->GetLine());
}

TEST(RegistryKeyString, StoredTextsReadBackAsWritten)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const wchar_t terminated[] = L"with terminator";
    scratch.SetRaw(L"Terminated", REG_SZ, terminated, sizeof(terminated));
    const wchar_t unterminated[] = {L'n', L'o', L' ', L'e', L'n', L'd'};
    scratch.SetRaw(L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
    scratch.SetRaw(L"EmptyNoBytes", REG_SZ, L"", 0);
    scratch.SetRaw(L"EmptyTerminator", REG_SZ, L"", sizeof(wchar_t));
    const wchar_t twoTerminators[] = L"double\0";
    scratch.SetRaw(L"TwoTerminators", REG_SZ, twoTerminators, sizeof(twoTerminators));
    const wchar_t expandable[] = L"%SystemRoot%\\Temp";
    scratch.SetRaw(L"Expandable", REG_EXPAND_SZ, expandable, sizeof(expandable));

    CRegistryKey key(scratch.Path(), false, 0);
    key.SetString(L"Written", L"Grüße, 世界");
    key.SetString(L"WrittenEmpty", L"");
    key.SetString(L"", L"the default value");

    const struct
    {
        const wchar_t* name;
        std::wstring expected;
    } cases[] = {
        {L"Terminated", L"with terminator"},
        {L"Unterminated", L"no end"},
        {L"EmptyNoBytes", L""},
        {L"EmptyTerminator", L""},
        {L"TwoTerminators", std::wstring(L"double\0", 7)}, // only one terminator is dropped
        {L"Expandable", L"%SystemRoot%\\Temp"},            // not expanded
        {L"Written", L"Grüße, 世界"},
        {L"WrittenEmpty", L""},
        {L"", L"the default value"},
    };
    const CRegistryKey reader(scratch.Path(), true, 0);
    for (const auto& item : cases)
    {
        SCOPED_TRACE(std::string(item.name, item.name + wcslen(item.name)));
        EXPECT_EQ(item.expected, reader.GetString(item.name, L"default"));
        EXPECT_TRUE(reader.ValueExists(item.name));
    }

    // What SetString stores: REG_SZ including the terminating zero.
    DWORD type = 0;
    DWORD byteCount = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CURRENT_USER, scratch.Subkey().c_str(), L"Written",
                                            RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &byteCount));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((std::wstring(L"Grüße, 世界").size() + 1) * sizeof(wchar_t), byteCount);
}

TEST(RegistryKeyString, MissingValueGivesTheDefault)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const CRegistryKey key(scratch.Path(), true, 0);
    EXPECT_EQ(L"fallback", key.GetString(L"Absent", L"fallback"));
    EXPECT_EQ(L"", key.GetString(L"Absent", L""));
    EXPECT_FALSE(key.ValueExists(L"Absent"));
}

TEST(RegistryKeyString, ValueOfAnotherTypeRaisesTheTypeFailure)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const DWORD number = 5;
    scratch.SetRaw(L"Dword", REG_DWORD, &number, sizeof(number));
    const unsigned char bytes[] = {1, 2, 3};
    scratch.SetRaw(L"Binary", REG_BINARY, bytes, sizeof(bytes));
    const wchar_t multi[] = L"a\0b\0";
    scratch.SetRaw(L"Multi", REG_MULTI_SZ, multi, sizeof(multi));

    const CRegistryKey key(scratch.Path(), true, 0);
    for (const std::wstring name : {L"Dword", L"Binary", L"Multi"})
    {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_TRUE(key.ValueExists(name));
        const auto failure = CatchException([&] { key.GetString(name, L"default"); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(L"Unexpected type for registry value '" + scratch.Path() + L"\\" + name +
                      L"'. REG_SZ or REG_EXPAND_SZ expected.",
                  failure->GetMessageText());
        EXPECT_EQ("OV::System::Win32::CRegistryKey::GetString", failure->GetFunction());
        EXPECT_EQ(279, failure->GetLine());
    }
}

TEST(RegistryKeyString, WriteToAKeyOpenedForReadingFails)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    CRegistryKey key(scratch.Path(), true, 0);
    const auto failure = CatchException([&] { key.SetString(L"Value", L"text"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"RegSetValueEx failure writing registry value '" + scratch.Path() + L"\\Value'.",
              failure->GetMessageText());
    EXPECT_EQ("OV::System::Win32::CRegistryKey::SetString", failure->GetFunction());
    EXPECT_EQ(303, failure->GetLine());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_ACCESS_DENIED), failure->GetLastErrorCode());
    EXPECT_FALSE(key.ValueExists(L"Value"));
}

TEST(RegistryKeyUint32, ReadsDwordsAndGivesTheDefaultForMissingValues)
{
    CScratchKey scratch(HKEY_LOCAL_MACHINE, L"HKLM");
    {
        CRegistryKey writer(scratch.Path(), false, 0);
        writer.SetUint32(L"Zero", 0);
        writer.SetUint32(L"Max", 0xFFFFFFFFu);
        writer.SetUint32(L"Pause", 1500);
    }
    const CRegistryKey key(scratch.Path(), true, 0);
    EXPECT_EQ(0u, key.GetUint32(L"Zero", 7));
    EXPECT_EQ(0xFFFFFFFFu, key.GetUint32(L"Max", 7));
    EXPECT_EQ(1500u, key.GetUint32(L"Pause", 7));
    EXPECT_EQ(1000u, key.GetUint32(L"UpdaterPauseBeforeDialogMs", 1000));
}

TEST(RegistryKeyUint32, ValueOfAnotherTypeNeverReadsAsANumber)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const wchar_t shortText[] = L"1"; // 4 bytes: fits the DWORD buffer, so only the type is wrong
    scratch.SetRaw(L"ShortText", REG_SZ, shortText, sizeof(shortText));
    const wchar_t longText[] = L"12345"; // 12 bytes: too big for the buffer, the read itself fails
    scratch.SetRaw(L"LongText", REG_SZ, longText, sizeof(longText));
    const unsigned char threeBytes[] = {1, 2, 3};
    scratch.SetRaw(L"ThreeBytes", REG_BINARY, threeBytes, sizeof(threeBytes));
    const unsigned long long quad = 5;
    scratch.SetRaw(L"Qword", REG_QWORD, &quad, sizeof(quad));

    const CRegistryKey key(scratch.Path(), true, 0);
    const struct
    {
        const wchar_t* name;
        bool typeFailure; // otherwise the read failure
    } cases[] = {{L"ShortText", true}, {L"LongText", false}, {L"ThreeBytes", true}, {L"Qword", false}};
    for (const auto& item : cases)
    {
        SCOPED_TRACE(std::string(item.name, item.name + wcslen(item.name)));
        const std::wstring valuePath = scratch.Path() + L"\\" + item.name;
        const auto failure = CatchException([&] { key.GetUint32(item.name, 7); });
        ASSERT_TRUE(failure);
        EXPECT_EQ("OV::System::Win32::CRegistryKey::GetUint32", failure->GetFunction());
        if (item.typeFailure)
        {
            EXPECT_EQ(L"Unexpected type for registry value '" + valuePath + L"'. REG_DWORD expected.",
                      failure->GetMessageText());
            EXPECT_EQ(333, failure->GetLine());
        }
        else
        {
            EXPECT_EQ(ReadFailure(valuePath), failure->GetMessageText());
            EXPECT_EQ(325, failure->GetLine());
            EXPECT_EQ(static_cast<std::uint32_t>(ERROR_MORE_DATA), failure->GetLastErrorCode());
        }
    }
}

TEST(RegistryRead, FreeHelpersSwallowEveryFailure)
{
    CScratchKey scratch(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE");
    const DWORD on = 3;
    const DWORD off = 0;
    scratch.SetRaw(L"On", REG_DWORD, &on, sizeof(on));
    scratch.SetRaw(L"Off", REG_DWORD, &off, sizeof(off));
    scratch.SetRaw(L"Text", REG_SZ, L"1", 2 * sizeof(wchar_t));
    const std::wstring missingKey = scratch.Path() + L"\\Missing";

    EXPECT_EQ(3u, RegistryReadUint32(scratch.Path(), L"On", 9));
    EXPECT_EQ(0u, RegistryReadUint32(scratch.Path(), L"Off", 9));
    EXPECT_EQ(9u, RegistryReadUint32(scratch.Path(), L"Absent", 9));
    EXPECT_EQ(9u, RegistryReadUint32(scratch.Path(), L"Text", 9));
    EXPECT_EQ(9u, RegistryReadUint32(missingKey, L"On", 9));
    EXPECT_EQ(9u, RegistryReadUint32(L"HKEY_FOO\\X", L"On", 9));

    EXPECT_TRUE(RegistryReadFlag(scratch.Path(), L"On", 0));
    EXPECT_FALSE(RegistryReadFlag(scratch.Path(), L"Off", 1));
    EXPECT_TRUE(RegistryReadFlag(missingKey, L"On", 1));
    EXPECT_FALSE(RegistryReadFlag(missingKey, L"On", 0));
    EXPECT_TRUE(RegistryReadFlag(scratch.Path(), L"Text", 1));
}

TEST(RegistryRead, DebuggingFlagIsANonZeroDwordUnderTheDebuggingKey)
{
    const wchar_t makerKey[] = L"SOFTWARE\\Orvane";
    const wchar_t debuggingKey[] = L"SOFTWARE\\Orvane\\Debugging";
    const bool makerKeyExisted = RegistryKeyExists(HKEY_LOCAL_MACHINE, makerKey);
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, debuggingKey, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &key, &disposition));
    const std::wstring prefix = L"OVTest" + std::to_wstring(::GetCurrentProcessId());
    const DWORD one = 1;
    const DWORD zero = 0;
    const DWORD big = 0x80000000u;
    ::RegSetValueExW(key, (prefix + L"One").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    ::RegSetValueExW(key, (prefix + L"Zero").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
    ::RegSetValueExW(key, (prefix + L"Big").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&big), 4);
    ::RegSetValueExW(key, (prefix + L"Text").c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);

    EXPECT_TRUE(IsDebuggingFlagSet(prefix + L"One"));
    EXPECT_TRUE(IsDebuggingFlagSet(prefix + L"Big"));
    EXPECT_FALSE(IsDebuggingFlagSet(prefix + L"Zero"));
    EXPECT_FALSE(IsDebuggingFlagSet(prefix + L"Text"));
    EXPECT_FALSE(IsDebuggingFlagSet(prefix + L"Absent"));

    for (const wchar_t* suffix : {L"One", L"Zero", L"Big", L"Text"})
        ::RegDeleteValueW(key, (prefix + suffix).c_str());
    ::RegCloseKey(key);
    // Leave the prefix as we found it: keys made here go again.
    if (disposition == REG_CREATED_NEW_KEY)
    {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, debuggingKey);
        if (!makerKeyExisted)
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, makerKey);
        EXPECT_FALSE(IsDebuggingFlagSet(prefix + L"One")); // and a missing key reads as off
    }
}
