#include "System/String/AnsiWide.h"

#include "System/ErrorBoundary.h"
#include "System/Platform.h"
#include "System/String/AnsiWideNoThrow.h"

#include <cstdlib>
#include <vector>

namespace OV
{

namespace
{
constexpr char kSource[] = "Ov\\System\\String\\AnsiWide.cpp";

// The lines that the conversion failures carry.
constexpr System::FixedPlace kAnsiToWide(22);
constexpr System::FixedPlace kWideToAnsi(38);
constexpr System::FixedPlace kCodePageToWide(60);
constexpr System::FixedPlace kWideToCodePage(81);
} // namespace

std::wstring AnsiToWide(const std::string& text)
{
    std::wstring wide;
    if (!TryAnsiToWide(text, wide))
        OV_THROW_AT(kAnsiToWide, "Could not convert ANSI to UTF-16.");
    return wide;
}

std::string WideToAnsi(const std::wstring& text)
{
    std::vector<char> buffer(text.size() * 4 + 3, '\0');
    const size_t converted = std::wcstombs(buffer.data(), text.c_str(), buffer.size());
    if (converted == static_cast<size_t>(-1))
        OV_THROW_AT(kWideToAnsi, "Could not convert UTF-16 to ANSI.");
    return std::string(buffer.data(), converted);
}

std::wstring MBCSToUtf16_CP(unsigned int codePage, const std::string& text)
{
    if (text.empty())
        return std::wstring();
    std::vector<wchar_t> buffer(text.size() * 2, L'\0');
    const int converted = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                                buffer.data(), static_cast<int>(buffer.size()));
    if (converted == 0)
        OV_THROW_AT(kCodePageToWide, "Could not convert CP characters to UTF-16.");
    return std::wstring(buffer.data(), static_cast<size_t>(converted));
}

std::string Utf16ToMBCS_CP(unsigned int codePage, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    std::vector<char> buffer(text.size() * 4 + 2, '\0');
    const int converted =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), buffer.data(),
                              static_cast<int>(buffer.size()), nullptr, nullptr);
    if (converted == 0)
        OV_THROW_AT(kWideToCodePage, "Could not convert UTF-16 characters to CP.");
    return std::string(buffer.data(), static_cast<size_t>(converted));
}

std::string Utf16ToUtf8(const std::wstring& text)
{
    return Utf16ToMBCS_CP(CP_UTF8, text);
}

std::wstring Utf8ToUtf16(const std::string& text)
{
    return MBCSToUtf16_CP(CP_UTF8, text);
}

} // namespace OV
