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
        // Every carried language by its own name.
        {L"en-us", 1033, L"en-us"},
        {L"de", 1031, L"de"},
        {L"es-es", 1034, L"es-es"},
        {L"es", 3082, L"es"},
        {L"fr", 1036, L"fr"},
        {L"it", 1040, L"it"},
        {L"ko", 1042, L"ko"},
        {L"pt-br", 1046, L"pt-br"},
        {L"zh-cn", 2052, L"zh-cn"},
        {L"zh", 1028, L"zh"},
        // Regional variants and case.
        {L"en", 1033, L"en-us"},
        {L"EN-GB", 1033, L"en-us"},
        {L"de-de", 1031, L"de"},
        {L"DE-at", 1031, L"de"},
        {L"ES-ES", 1034, L"es-es"},
        {L"es-mx", 3082, L"es"},
        {L"es-419", 3082, L"es"},
        {L"es-es-tradnl", 3082, L"es"},
        {L"ca-es", 1034, L"es-es"},
        {L"eu-ES", 1034, L"es-es"},
        {L"gl-es", 1034, L"es-es"},
        {L"ca", 1033, L"en-us"},
        {L"ca-es-valencia", 1033, L"en-us"},
        {L"fr-fr", 1036, L"fr"},
        {L"fr-ca", 1036, L"fr"},
        {L"it-ch", 1040, L"it"},
        {L"ko-kr", 1042, L"ko"},
        {L"pt", 1046, L"pt-br"},
        {L"pt-pt", 1046, L"pt-br"},
        {L"ZH-CN", 2052, L"zh-cn"},
        {L"zh-tw", 1028, L"zh"},
        {L"zh-hk", 1028, L"zh"},
        {L"zh-hans", 1028, L"zh"},
        {L"zh-cn-x", 1028, L"zh"},
        // Languages that are not carried.
        {L"ja-jp", 1033, L"en-us"},
        {L"ru", 1033, L"en-us"},
        // Garbage: the primary part must be exactly a carried two-letter name.
        {L"-de", 1033, L"en-us"},
        {L"de-", 1031, L"de"},
        {L"deu", 1033, L"en-us"},
        {L"de_DE", 1033, L"en-us"},
        {std::wstring(L"de\0xx", 5), 1033, L"en-us"},
    };
    for (const LocaleCase& c : cases)
        ExpectChoice(c.Requested, c.Language, c.LocaleName);
}

TEST_F(StringTableTest, ChineseFromTheUserLocationFollowsTheUiLanguage)
{
    struct ChineseCase
    {
        const wchar_t* Name;
        bool IsExplicit;
        LANGID UiLanguage;
        LANGID Language;
        const wchar_t* LocaleName;
    };
    const ChineseCase cases[] = {
        // From the location: Simplified for a UI in Chinese of the PRC (sub-language 2) or Singapore (4).
        {L"zh-tw", false, 0x0804, 2052, L"zh-cn"},
        {L"zh-tw", false, 0x1004, 2052, L"zh-cn"},
        {L"zh-cn", false, 0x0404, 1028, L"zh"},
        {L"zh-cn", false, 0x0C04, 1028, L"zh"},
        {L"zh", false, 0x0409, 1028, L"zh"},
        // Sub-language 2 of another language counts too: only the sub-language is looked at.
        {L"zh-hk", false, 0x0809, 2052, L"zh-cn"},
        // From the command line the name alone decides.
        {L"zh-tw", true, 0x0804, 1028, L"zh"},
        {L"zh-cn", true, 0x0404, 2052, L"zh-cn"},
        {L"zh-sg", true, 0x1004, 1028, L"zh"},
    };
    for (const ChineseCase& c : cases)
    {
        const LanguageChoice choice = ChooseLanguage(c.Name, c.IsExplicit, c.UiLanguage);
        EXPECT_EQ(c.Language, choice.Language) << Narrow(c.Name) << " ui " << c.UiLanguage;
        EXPECT_EQ(c.LocaleName, choice.LocaleName) << Narrow(c.Name) << " ui " << c.UiLanguage;
    }
}

TEST_F(StringTableTest, WithoutLocaleNameGoesByTheUserLocation)
{
    const std::wstring userLocale = CStringTable::GetUserLocaleName();
    ASSERT_FALSE(userLocale.empty());
    for (const wchar_t c : userLocale)
        EXPECT_FALSE(c >= L'A' && c <= L'Z') << Narrow(userLocale);

    const CStringTable fromLocation(L"");
    const LanguageChoice expected = ChooseLanguage(userLocale, false, ::GetUserDefaultUILanguage());
    EXPECT_EQ(expected.Language, fromLocation.GetLanguage());
    EXPECT_EQ(expected.LocaleName, fromLocation.GetLocaleName());
}

TEST_F(StringTableTest, ResourceLocaleOverrideWinsOverEveryRequest)
{
    SetDebuggingString(kResourceLocaleOverride, L"fr-fr");
    ExpectChoice(L"de", 1036, L"fr");
    ExpectChoice(L"en-us", 1036, L"fr");
    ExpectChoice(L"", 1036, L"fr");
    EXPECT_EQ(L"Mise \u00E0 jour", CStringTable(L"ko").LoadString(101));

    // The override is lowered like any request.
    SetDebuggingString(kResourceLocaleOverride, L"PT-PT");
    ExpectChoice(L"de", 1046, L"pt-br");

    // It wins over the location's name forced by "LocaleName" as well.
    SetDebuggingString(kLocaleName, L"it-it");
    ExpectChoice(L"", 1046, L"pt-br");

    // Present but empty, it still replaces the request: nothing matches, so English.
    SetDebuggingString(kResourceLocaleOverride, L"");
    ExpectChoice(L"de", 1033, L"en-us");

    // A value that cannot be read as text leaves the request alone.
    SetDebuggingDword(kResourceLocaleOverride, 1036);
    ExpectChoice(L"de", 1031, L"de");
}

TEST_F(StringTableTest, LocaleNameReplacesOnlyTheUserLocation)
{
    SetDebuggingString(kLocaleName, L"ko-KR");
    EXPECT_EQ(L"ko-KR", CStringTable::GetUserLocaleName());
    ExpectChoice(L"", 1042, L"ko");
    // A locale on the command line wins over it.
    ExpectChoice(L"it", 1040, L"it");

    // Reached from the location, Chinese follows the UI language, not the name.
    SetDebuggingString(kLocaleName, L"zh-tw");
    const LANGID subLanguage = static_cast<LANGID>(::GetUserDefaultUILanguage() >> 10);
    const bool simplified = subLanguage == 2 || subLanguage == 4;
    ExpectChoice(L"", simplified ? 2052 : 1028, simplified ? L"zh-cn" : L"zh");

    // An empty value does not count.
    RemoveOverrides();
    const std::wstring fromLocation = CStringTable::GetUserLocaleName();
    SetDebuggingString(kLocaleName, L"");
    EXPECT_EQ(fromLocation, CStringTable::GetUserLocaleName());
}

TEST_F(StringTableTest, LoadsTheTextsOfTheChosenLanguage)
{
    EXPECT_EQ(L"Update", CStringTable(L"en-us").LoadString(101));
    EXPECT_EQ(L"Nach Updates suchen...", CStringTable(L"de-de").LoadString(102));
    // The two Spanish tables differ.
    EXPECT_EQ(L"Hay actualizaciones disponibles. \u00BFDeseas recibirla?",
              CStringTable(L"es-es").LoadString(105));
    EXPECT_EQ(L"Hay disponible una actualizaci\u00F3n. \u00BFQuieres instalarla?",
              CStringTable(L"es-mx").LoadString(105));
    EXPECT_EQ(L"\u6B63\u5728\u4E0B\u8F09\u66F4\u65B0\u2026", CStringTable(L"zh-tw").LoadString(103));
    EXPECT_EQ(L"\u6B63\u5728\u4E0B\u8F7D\u66F4\u65B0...", CStringTable(L"zh-cn").LoadString(103));
}

TEST_F(StringTableTest, MissingStringsAndLanguagesGiveEmptyText)
{
    const CStringTable english(L"en-us");
    // Ids outside 101 to 107: in the carried block, in a block that does not exist, beyond 16 bits.
    for (const unsigned int id : {0u, 96u, 100u, 108u, 111u, 112u, 4096u, 65535u, 70000u})
        EXPECT_EQ(L"", english.LoadString(id)) << "id " << id;

    // A language the table does not carry: nothing, not some other language's text.
    for (const LANGID language : {0x0419, 0x0809, 0x0411, 0x0C09})
        EXPECT_EQ(L"", CStringTable::LoadResourceString(nullptr, language, 101)) << "language " << language;
    EXPECT_EQ(L"Update", CStringTable::LoadResourceString(nullptr, 1033, 101));

    // Which is why a locale of such a language is mapped onto English, whose texts exist.
    const CStringTable russian(L"ru-ru");
    EXPECT_EQ(1033, russian.GetLanguage());
    EXPECT_EQ(L"Sorry, a check for updates is needed. Please connect to the Internet and try again.",
              russian.LoadString(106));
}

} // namespace
