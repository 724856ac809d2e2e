#include "Updater/Ui/LanguageChoice.h"

namespace OV::Updater::Ui
{

namespace
{
constexpr LANGID kChineseTraditional = 1028;
constexpr LANGID kGerman = 1031;
constexpr LANGID kEnglishUs = 1033;
constexpr LANGID kSpanishTraditionalSort = 1034;
constexpr LANGID kFrench = 1036;
constexpr LANGID kItalian = 1040;
constexpr LANGID kKorean = 1042;
constexpr LANGID kPortugueseBrazil = 1046;
constexpr LANGID kChineseSimplified = 2052;
constexpr LANGID kSpanishModernSort = 3082;

// Sub-languages of Chinese written in Simplified characters: People's Republic of China and Singapore.
bool IsSimplifiedChineseUi(LANGID uiLanguage)
{
    const unsigned subLanguage = static_cast<unsigned>(uiLanguage) >> 10;
    return subLanguage == 2 || subLanguage == 4;
}
} // namespace

std::wstring LowerAsciiLetters(std::wstring text)
{
    for (wchar_t& c : text)
    {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

LanguageChoice ChooseLanguage(const std::wstring& localeName, bool isExplicit, LANGID userUiLanguage)
{
    if (localeName == L"es-es")
        return {kSpanishTraditionalSort, L"es-es"};

    const std::wstring::size_type dash = localeName.find(L'-');
    const std::wstring primary = localeName.substr(0, dash);
    const std::wstring region = dash == std::wstring::npos ? std::wstring() : localeName.substr(dash + 1);

    if (primary == L"de")
        return {kGerman, L"de"};
    if (primary == L"es")
        return {kSpanishModernSort, L"es"};
    // Catalan, Basque and Galician as spoken in Spain read the Spanish of Spain.
    if (region == L"es" && (primary == L"ca" || primary == L"eu" || primary == L"gl"))
        return {kSpanishTraditionalSort, L"es-es"};
    if (primary == L"fr")
        return {kFrench, L"fr"};
    if (primary == L"it")
        return {kItalian, L"it"};
    if (primary == L"ko")
        return {kKorean, L"ko"};
    if (primary == L"pt")
        return {kPortugueseBrazil, L"pt-br"};
    if (primary == L"zh")
    {
        const bool simplified = isExplicit ? localeName == L"zh-cn" : IsSimplifiedChineseUi(userUiLanguage);
        return simplified ? LanguageChoice{kChineseSimplified, L"zh-cn"}
                          : LanguageChoice{kChineseTraditional, L"zh"};
    }
    return {kEnglishUs, L"en-us"};
}

} // namespace OV::Updater::Ui
