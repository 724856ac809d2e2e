#include "Updater/Ui/StringTable.h"

#include "System/Exception.h"
#include "System/Win32/RegistryKey.h"
#include "Updater/Ui/LanguageChoice.h"

#include <cstdint>
#include <optional>

namespace OV::Updater::Ui
{

namespace
{
constexpr wchar_t kDebuggingKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Debugging";
constexpr wchar_t kDefaultLocaleName[] = L"en-us";
constexpr int kGeoNameCapacity = 259;
constexpr unsigned int kStringsPerBlock = 16;

// A string value of the debugging key; nothing when the key or the value is missing or unreadable.
std::optional<std::wstring> ReadDebuggingString(const wchar_t* valueName)
{
    try
    {
        const System::Win32::CRegistryKey key(kDebuggingKey, true, 0);
        if (!key.ValueExists(valueName))
            return std::nullopt;
        return key.GetString(valueName, L"");
    }
    catch (const System::CException&)
    {
        return std::nullopt;
    }
}

// The requested name as the language choice sees it: the debugging value "ResourceLocaleOverride", when
// present, replaces it whatever it was; then lowered.
std::wstring NormaliseLocaleName(const std::wstring& requested)
{
    const std::optional<std::wstring> forced = ReadDebuggingString(L"ResourceLocaleOverride");
    return LowerAsciiLetters(forced ? *forced : requested);
}
} // namespace

CStringTable::CStringTable(const std::wstring& localeName)
{
    const bool isExplicit = !localeName.empty();
    const std::wstring requested = isExplicit ? localeName : GetUserLocaleName();
    const LanguageChoice choice =
        ChooseLanguage(NormaliseLocaleName(requested), isExplicit, ::GetUserDefaultUILanguage());
    m_Language = choice.Language;
    m_LocaleName = choice.LocaleName;
}

std::wstring CStringTable::LoadString(unsigned int id) const
{
    return LoadResourceString(m_Module, m_Language, id);
}

std::wstring CStringTable::GetUserLocaleName()
{
    std::wstring name = kDefaultLocaleName;
    const GEOID nation = ::GetUserGeoID(GEOCLASS_NATION);
    wchar_t geoName[kGeoNameCapacity] = {};
    if (::GetGeoInfoW(nation, GEO_RFC1766, geoName, kGeoNameCapacity, ::GetUserDefaultUILanguage()) > 0)
        name = LowerAsciiLetters(geoName);

    const std::optional<std::wstring> forced = ReadDebuggingString(L"LocaleName");
    if (forced && !forced->empty())
        name = *forced;
    return name;
}

std::wstring CStringTable::LoadResourceString(HMODULE module, LANGID language, unsigned int id)
{
    // A string table block holds 16 strings; block n (from 1) holds the ids 16 (n - 1) to 16 n - 1.
    const unsigned int block = id / kStringsPerBlock + 1;
    if (block > 0xFFFF)
        return {};
    const HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    if (found == nullptr)
        return {};
    const HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr)
        return {};
    const auto* data = static_cast<const wchar_t*>(::LockResource(loaded));
    const std::size_t length = ::SizeofResource(module, found) / sizeof(wchar_t);
    if (data == nullptr)
        return {};

    // Each entry: a character count, then that many UTF-16 characters without a terminator.
    std::size_t position = 0;
    for (unsigned int index = 0; index < kStringsPerBlock && position < length; ++index)
    {
        const std::size_t count = static_cast<std::uint16_t>(data[position]);
        ++position;
        if (count > length - position)
            return {};
        if (index == id % kStringsPerBlock)
            return std::wstring(data + position, count);
        position += count;
    }
    return {};
}

} // namespace OV::Updater::Ui
