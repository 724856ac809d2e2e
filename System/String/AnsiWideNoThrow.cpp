#include "System/String/AnsiWideNoThrow.h"

#include <cstdlib>
#include <vector>

namespace OV
{

bool TryAnsiToWide(std::string_view text, std::wstring& wide)
{
    const std::string terminated(text);
    std::vector<wchar_t> buffer(terminated.size() * 2 + 1, L'\0');
    const size_t converted = std::mbstowcs(buffer.data(), terminated.c_str(), buffer.size());
    if (converted == static_cast<size_t>(-1))
        return false;
    wide.assign(buffer.data(), converted);
    return true;
}

std::wstring AnsiToWideNoThrow(std::string_view text)
{
    std::wstring wide;
    if (!TryAnsiToWide(text, wide))
        wide.assign(text.begin(), text.end());
    return wide;
}

} // namespace OV
