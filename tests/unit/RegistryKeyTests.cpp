#include "System/Win32/RegistryKey.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::Win32::CRegistryKey;
using OV::System::Win32::RegistryReadFlag;
using OV::System::Win32::RegistryReadUint32;
using OV::Tests::CatchException;

namespace
{

// A key of the test prefix's registry unique to this process, removed with everything below it at the end.
class CScratchKey
{
public:
    CScratchKey(HKEY root, const std::wstring& rootName)
        : m_Root(root), m_Subkey(L"Software\\OrvaneTests\\" + std::to_wstring(::GetCurrentProcessId())),
          m_Path(rootName + L"\\" + m_Subkey)
    {
    }
    ~CScratchKey() { ::RegDeleteTreeW(m_Root, m_Subkey.c_str()); }

    const std::wstring& Path() const { return m_Path; }

    // Raw bytes of any type, so that a test can store what CRegistryKey itself never writes.
    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD byteCount) const
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(m_Root, m_Subkey.c_str(), name, type, data, byteCount));
    }

private:
    HKEY m_Root;
    std::wstring m_Subkey;
    std::wstring m_Path;
};

} // namespace

TEST(RegistryKey, LongAndShortRootNamesInAnyCaseNameTheSameKeyAndOthersFail)
{
    CScratchKey scratch(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE");
    CRegistryKey(scratch.Path(), false, 0).SetString(L"Name", L"written");
    const std::wstring subkey = scratch.Path().substr(scratch.Path().find(L'\\'));
    for (const std::wstring root : {L"HKLM", L"hklm", L"Hkey_Local_Machine"})
        EXPECT_EQ(L"written", CRegistryKey(root + subkey, true, 0).GetString(L"Name", L"missing"));

    const CRegistryKey alone(L"HKCU", true, 0);
    EXPECT_TRUE(alone.IsPredefinedRoot());
    EXPECT_EQ(HKEY_CURRENT_USER, alone.GetHandle());

    for (const std::wstring path : {L"HKEY_FOO\\X", L"", L"HKLMX\\Software", L"Software\\Orvane"})
    {
        const auto failure = CatchException([&] { CRegistryKey key(path, true, 0); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(L"Base key in '" + path + L"'is not a predefined key.", failure->GetMessageText());
    }
}

TEST(RegistryKey, MissingKeyFailsToOpenButIsCreatedOnRequest)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const std::wstring path = scratch.Path() + L"\\Not\\There";
    const auto failure = CatchException([&] { CRegistryKey key(path, true, 0); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"RegOpenKeyExW failure opening registry key '" + path + L"'.", failure->GetMessageText());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND), failure->GetLastErrorCode());

    CRegistryKey(path, false, 0).SetUint32(L"Level", 0xFFFFFFFFu);
    const CRegistryKey created(path, true, 0);
    EXPECT_EQ(0xFFFFFFFFu, created.GetUint32(L"Level", 0));
    EXPECT_EQ(1000u, created.GetUint32(L"Absent", 1000));
}

TEST(RegistryKey, StringsReadBackAsStoredAndOtherTypesFail)
{
    CScratchKey scratch(HKEY_CURRENT_USER, L"HKCU");
    const wchar_t unterminated[] = {L'n', L'o', L' ', L'e', L'n', L'd'};
    scratch.SetRaw(L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
    const wchar_t expandable[] = L"%SystemRoot%\\Temp";
    scratch.SetRaw(L"Expandable", REG_EXPAND_SZ, expandable, sizeof(expandable));
    const DWORD number = 5;
    scratch.SetRaw(L"Dword", REG_DWORD, &number, sizeof(number));
    CRegistryKey(scratch.Path(), false, 0).SetString(L"Written", L"Gr\u00FC\u00DFe, \u4E16\u754C");

    const CRegistryKey key(scratch.Path(), true, 0);
    EXPECT_EQ(L"no end", key.GetString(L"Unterminated", L""));
    EXPECT_EQ(L"%SystemRoot%\\Temp", key.GetString(L"Expandable", L"")); // not expanded
    EXPECT_EQ(L"Gr\u00FC\u00DFe, \u4E16\u754C", key.GetString(L"Written", L""));
    EXPECT_EQ(L"fallback", key.GetString(L"Absent", L"fallback"));
    EXPECT_FALSE(key.ValueExists(L"Absent"));

    const auto failure = CatchException([&] { key.GetString(L"Dword", L""); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Unexpected type for registry value '" + scratch.Path() +
                  L"\\Dword'. REG_SZ or REG_EXPAND_SZ expected.",
              failure->GetMessageText());
    EXPECT_TRUE(CatchException([&] { key.GetUint32(L"Written", 7); }));
    // Opened for reading: a write fails and stores nothing.
    EXPECT_TRUE(CatchException([&] { CRegistryKey(scratch.Path(), true, 0).SetString(L"New", L"x"); }));
    EXPECT_FALSE(key.ValueExists(L"New"));
}

TEST(RegistryKey, FreeHelpersSwallowEveryFailure)
{
    CScratchKey scratch(HKEY_LOCAL_MACHINE, L"HKLM");
    const DWORD on = 3;
    const DWORD off = 0;
    scratch.SetRaw(L"On", REG_DWORD, &on, sizeof(on));
    scratch.SetRaw(L"Off", REG_DWORD, &off, sizeof(off));
    scratch.SetRaw(L"Text", REG_SZ, L"1", 2 * sizeof(wchar_t));
    const std::wstring missingKey = scratch.Path() + L"\\Missing";

    EXPECT_EQ(3u, RegistryReadUint32(scratch.Path(), L"On", 9));
    EXPECT_EQ(9u, RegistryReadUint32(scratch.Path(), L"Text", 9));
    EXPECT_TRUE(RegistryReadFlag(scratch.Path(), L"On", 0));
    EXPECT_FALSE(RegistryReadFlag(scratch.Path(), L"Off", 1));
    EXPECT_TRUE(RegistryReadFlag(missingKey, L"On", 1));
    EXPECT_TRUE(RegistryReadFlag(scratch.Path(), L"Text", 1));
}
