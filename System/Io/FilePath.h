#pragma once

#include <cstddef>
#include <string>

namespace OV::System::IO
{

// Path helpers on wide text; "\" and "/" both count as separators.
class CFilePath
{
public:
    static void ValidatePath(const std::wstring& path);
    static bool IsRooted(const std::wstring& path);
    static size_t GetRootLength(const std::wstring& path);
    static std::wstring Combine(const std::wstring& first, const std::wstring& second);
    static std::wstring GetDirectoryName(const std::wstring& path);
    static std::wstring GetFileName(const std::wstring& path);
    static std::wstring GetFileNameWithoutExtension(const std::wstring& path);
    static std::wstring GetParent(const std::wstring& path);
    static std::wstring Normalize(const std::wstring& path);
    static std::wstring MakeAbsolute(const std::wstring& path);
    static std::wstring GetModuleDirectory();

    static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
};

} // namespace OV::System::IO
