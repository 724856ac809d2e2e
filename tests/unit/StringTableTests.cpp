// Language choice and text loading of the string table, with the debugging overrides set for real in the
// test prefix's HKLM. Every test that builds a CStringTable is in this one suite, so that no other test
// process sees the overrides while they are set.
#include "System/Win32/RegistryKey.h"
#include "Updater/Ui/LanguageChoice.h"
#include "Updater/Ui/StringTable.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::Win32::CRegistryKey;
using OV::Updater::Ui::ChooseLanguage;
using OV::Updater::Ui::CStringTable;
using OV::Updater::Ui::LanguageChoice;

namespace
{

constexpr wchar_t kDebuggingKey[] = L"HKLM\\SOFTWARE\\Orvane\\Debugging";
constexpr wchar_t kResourceLocaleOverride[] = L"ResourceLocaleOverride";
constexpr wchar_t kLocaleName[] = L"LocaleName";

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

class StringTableTest : public ::testing::Test
{
protected:
    void SetUp() override { RemoveOverrides(); }
    void TearDown() override { RemoveOverrides(); }

    static void SetDebuggingString(const wchar_t* name, const std::wstring& value)
    {
        CRegistryKey key(kDebuggingKey, false, 0);
        key.SetString(name, value);
    }

    static void SetDebuggingDword(const wchar_t* name, DWORD value)
    {
        CRegistryKey key(kDebuggingKey, false, 0);
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.GetHandle(), name, 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&value), sizeof value));
    }

    static void RemoveOverrides()
    {
        CRegistryKey key(kDebuggingKey, false, 0);
        ::RegDeleteValueW(key.GetHandle(), kResourceLocaleOverride);
        ::RegDeleteValueW(key.GetHandle(), kLocaleName);
    }

    static void ExpectChoice(const std::wstring& requested, LANGID language, const wchar_t* localeName)
    {
        const CStringTable table(requested);
        EXPECT_EQ(language, table.GetLanguage()) << "requested \"" << Narrow(requested) << "\"";
        EXPECT_EQ(localeName, table.GetLocaleName()) << "requested \"" << Narrow(requested) << "\"";
    }
};

struct LocaleCase
{
    std::wstring Requested;
    LANGID Language;
    const wchar_t* LocaleName;
};

TEST_F(StringTableTest, MapsEveryLocaleNameOntoOneCarriedLanguage)
{
    const LocaleCase cases[] = {
        {L"en-us", 1033, L"en-us"},     {L"EN-GB", 1033, L"en-us"},
        {L"DE-at", 1031, L"de"},        {L"es-es", 1034, L"es-es"},
        {L"ca-es", 1034, L"es-es"},     {L"es-mx", 3082, L"es"},
        {L"es-es-tradnl", 3082, L"es"}, {L"ca", 1033, L"en-us"},
        {L"fr-ca", 1036, L"fr"},        {L"it-ch", 1040, L"it"},
        {L"ko-kr", 1042, L"ko"},        {L"pt-pt", 1046, L"pt-br"},
        {L"ZH-CN", 2052, L"zh-cn"},     {L"zh-tw", 1028, L"zh"},
        {L"zh-cn-x", 1028, L"zh"},      {L"ja-jp", 1033, L"en-us"},
        {L"de-", 1031, L"de"},          {L"deu", 1033, L"en-us"},
        {L"de_DE", 1033, L"en-us"},     {std::wstring(L"de\0xx", 5), 1033, L"en-us"},
    };
    for (const LocaleCase& c : cases)
        ExpectChoice(c.Requested, c.Language, c.LocaleName);
}

TEST_F(StringTableTest, ChineseFromTheUserLocationFollowsTheUiLanguage)
{
    const struct
    {
        const wchar_t* Name;
        bool IsExplicit;
        LANGID UiLanguage;
        LANGID Language;
    } cases[] = {
        // From the location: Simplified for a UI of sub-language 2 (PRC) or 4 (Singapore), of any language.
        {L"zh-tw", false, 0x0804, 2052},
        {L"zh-hk", false, 0x0809, 2052},
        {L"zh-cn", false, 0x0404, 1028},
        // From the command line the name alone decides.
        {L"zh-tw", true, 0x0804, 1028},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Language, ChooseLanguage(c.Name, c.IsExplicit, c.UiLanguage).Language) << Narrow(c.Name);
}

TEST_F(StringTableTest, DebuggingOverridesReplaceTheRequestOrTheUserLocation)
{
    // "LocaleName" replaces only the location; a locale on the command line wins over it.
    SetDebuggingString(kLocaleName, L"ko-KR");
    EXPECT_EQ(L"ko-KR", CStringTable::GetUserLocaleName());
    ExpectChoice(L"", 1042, L"ko");
    ExpectChoice(L"it", 1040, L"it");

    // "ResourceLocaleOverride" wins over everything, lowered like any request.
    SetDebuggingString(kResourceLocaleOverride, L"FR-fr");
    ExpectChoice(L"de", 1036, L"fr");
    ExpectChoice(L"", 1036, L"fr");
    EXPECT_EQ(L"Mise \u00E0 jour", CStringTable(L"ko").LoadString(101));
    // Present but empty, it still replaces the request: nothing matches, so English.
    SetDebuggingString(kResourceLocaleOverride, L"");
    ExpectChoice(L"de", 1033, L"en-us");
    // A value that cannot be read as text leaves the request alone.
    SetDebuggingDword(kResourceLocaleOverride, 1036);
    ExpectChoice(L"de", 1031, L"de");
}

TEST_F(StringTableTest, LoadsTheTextsOfTheChosenLanguageAndNothingElse)
{
    EXPECT_EQ(L"Nach Updates suchen...", CStringTable(L"de-de").LoadString(102));
    // The two Spanish tables differ.
    EXPECT_EQ(L"Hay actualizaciones disponibles. \u00BFDeseas recibirla?",
              CStringTable(L"es-es").LoadString(105));
    EXPECT_EQ(L"Hay disponible una actualizaci\u00F3n. \u00BFQuieres instalarla?",
              CStringTable(L"es-mx").LoadString(105));

    const CStringTable english(L"en-us");
    for (const unsigned int id : {100u, 108u, 4096u, 70000u})
        EXPECT_EQ(L"", english.LoadString(id)) << "id " << id;
    // A language the table does not carry gives nothing, not some other language's text.
    EXPECT_EQ(L"", CStringTable::LoadResourceString(nullptr, 0x0419, 101));
    EXPECT_EQ(L"Update", CStringTable::LoadResourceString(nullptr, 1033, 101));
}

} // namespace
