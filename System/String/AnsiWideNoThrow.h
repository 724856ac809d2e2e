// The one conversion of 8-bit text to UTF-16 that never throws. It sits below the exception (which
// widens its own texts with it) so that AnsiToWide, which throws the exception, and the exception do not
// need each other.
#pragma once

#include <string>
#include <string_view>

namespace OV
{

// The C runtime's conversion in its current locale, as AnsiToWide does it; false when the locale cannot
// convert the text.
bool TryAnsiToWide(std::string_view text, std::wstring& wide);

// TryAnsiToWide's text, or each byte as its own code unit when the locale cannot convert it.
std::wstring AnsiToWideNoThrow(std::string_view text);

} // namespace OV
