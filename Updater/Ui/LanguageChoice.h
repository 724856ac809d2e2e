#pragma once

#include "System/Platform.h"

#include <string>

namespace OV::Updater::Ui
{

// One of the ten languages the string table carries, and the normalised locale name that stands for it.
struct LanguageChoice
{
    LANGID Language;
    std::wstring LocaleName;
};

// Lowers the letters A to Z only; every other character stays as it is.
std::wstring LowerAsciiLetters(std::wstring text);

// Maps a locale name (already lowered) onto a carried language; English (United States) when nothing
// matches. isExplicit: the name came from the command line rather than from the user's location, which
// only matters for Chinese: from the location, the user's UI language picks Simplified or Traditional.
LanguageChoice ChooseLanguage(const std::wstring& localeName, bool isExplicit, LANGID userUiLanguage);

} // namespace OV::Updater::Ui
