#pragma once

#include "System/Platform.h"

#include <string>

// windows.h maps LoadString to LoadStringA/W; the table's own operation keeps its plain name.
#ifdef LoadString
#undef LoadString
#endif

namespace OV::Updater::Ui
{

// The program's user-visible texts in the one language chosen for this run (one of the ten carried).
class CStringTable
{
public:
    // localeName: the locale named on the command line, or empty to go by the user's location.
    // Debugging values under HKLM\SOFTWARE\Orvane\Debugging may force the language.
    explicit CStringTable(const std::wstring& localeName);

    // The text of string id in the chosen language; empty when the string or its block is missing.
    std::wstring LoadString(unsigned int id) const;

    LANGID GetLanguage() const { return m_Language; }
    // The normalised name of the chosen language, e.g. "en-us", "de", "zh-cn".
    const std::wstring& GetLocaleName() const { return m_LocaleName; }

    // The locale name to use when the command line names none: the user's nation as an RFC 1766 name,
    // "en-us" when the system cannot tell, replaced by the debugging value "LocaleName" when that is set.
    static std::wstring GetUserLocaleName();

    // The text of string id in exactly the given language from module's string table (null: the
    // program's own); empty when that language, block or string is missing. No other language is tried.
    static std::wstring LoadResourceString(HMODULE module, LANGID language, unsigned int id);

private:
    HMODULE m_Module = nullptr;
    LANGID m_Language = 0;
    std::wstring m_LocaleName;
};

} // namespace OV::Updater::Ui
