#pragma once

#include <string>

namespace OV
{

// 8-bit text <-> UTF-16 in the C runtime's current locale (left at its default, where each byte is the
// code unit of the same value).
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// Conversions through a Windows code page; invalid input is replaced by the system, not refused.
std::wstring MBCSToUtf16_CP(unsigned int codePage, const std::string& text);
std::string Utf16ToMBCS_CP(unsigned int codePage, const std::wstring& text);

std::string Utf16ToUtf8(const std::wstring& text);
std::wstring Utf8ToUtf16(const std::string& text);

} // namespace OV
