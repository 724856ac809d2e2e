#include "System/Io/FilePath.h"

#include "System/ErrorBoundary.h"
#include "System/Platform.h"

#include <vector>

namespace OV::System::IO
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Io\\FilePath.cpp";

// The lines that the path failures carry.
constexpr FixedPlace kEmptyPath(50);
constexpr FixedPlace kPathTooLong(55);
constexpr FixedPlace kInvalidCharacter(62);
constexpr FixedPlace kOnlyWhiteSpace(71);

constexpr size_t kMaxPath = 260;

bool IsInvalidPathCharacter(wchar_t c)
{
    switch (c)
    {
    case L'"':
    case L'<':
    case L'>':
    case L'|':
    case 0x00:
    case 0x08:
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x19:
        return true;
    default:
        return false;
    }
}

bool IsWhiteSpace(wchar_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20;
}

bool IsExistingFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

void CFilePath::ValidatePath(const std::wstring& path)
{
    if (path.empty())
        OV_THROW_AT(kEmptyPath, "Empty path");
    if (path.size() > kMaxPath)
        OV_THROW_AT(kPathTooLong, L"Path was too long: " + path);
    // Only the leading blanks and the first other character are examined.
    for (wchar_t c : path)
    {
        if (IsInvalidPathCharacter(c))
            OV_THROW_AT(kInvalidCharacter, L"Path contains one or more invalid characters: " + path);
        if (!IsWhiteSpace(c))
            return;
    }
    OV_THROW_AT(kOnlyWhiteSpace, L"Path contains only whitespace characters: " + path);
}

bool CFilePath::IsRooted(const std::wstring& path)
{
    return (!path.empty() && IsSeparator(path[0])) || (path.size() > 1 && path[1] == L':');
}

size_t CFilePath::GetRootLength(const std::wstring& path)
{
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
    {
        // UNC: \\server\share -> up to the separator after the share name.
        int separatorsToSkip = 2;
        for (size_t i = 2; i < path.size(); ++i)
        {
            if (IsSeparator(path[i]) && --separatorsToSkip == 0)
                return i;
        }
        return path.size();
    }
    if (!path.empty() && IsSeparator(path[0]))
        return 1;
    if (path.size() >= 2 && path[1] == L':')
        return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
    return 0;
}

std::wstring CFilePath::Combine(const std::wstring& first, const std::wstring& second)
{
    if (second.empty())
        return first;
    if (first.empty())
        return second;
    if (IsRooted(second))
        return second;
    const wchar_t last = first.back();
    if (last == L'\\' || last == L'/' || last == L':')
        return first + second;
    return first + L"\\" + second;
}

std::wstring CFilePath::GetDirectoryName(const std::wstring& path)
{
    const size_t root = GetRootLength(path);
    for (size_t i = path.size(); i > root; --i)
    {
        if (IsSeparator(path[i - 1]))
            return path.substr(0, i - 1);
    }
    return path.substr(0, root);
}

std::wstring CFilePath::GetFileName(const std::wstring& path)
{
    const size_t last = path.find_last_of(L"\\/:");
    return last == std::wstring::npos ? path : path.substr(last + 1);
}

std::wstring CFilePath::GetFileNameWithoutExtension(const std::wstring& path)
{
    const std::wstring name = GetFileName(path);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring CFilePath::GetParent(const std::wstring& path)
{
    if (path.size() < 2)
        return std::wstring();
    // Start at the second-to-last character so that one trailing separator is ignored.
    for (size_t i = path.size() - 1; i > 0; --i)
    {
        const size_t at = i - 1;
        if (IsSeparator(path[at]))
        {
            size_t end = at;
            if (end > 0 && IsSeparator(path[end - 1]))
                --end;
            return path.substr(0, end);
        }
    }
    return std::wstring();
}

std::wstring CFilePath::Normalize(const std::wstring& path)
{
    if (path.empty())
        return path;
    const bool endsWithSeparator = IsSeparator(path.back()) || IsExistingFolder(path);
    const bool startsWithTwoSeparators = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);

    std::vector<std::wstring> segments;
    std::wstring segment;
    auto flush = [&segments, &segment]()
    {
        if (segment == L"..")
        {
            if (!segments.empty())
                segments.pop_back();
        }
        else if (!segment.empty() && segment != L".")
        {
            segments.push_back(segment);
        }
        segment.clear();
    };
    for (wchar_t c : path)
    {
        if (IsSeparator(c))
            flush();
        else
            segment += c;
    }
    flush();

    std::wstring result = startsWithTwoSeparators ? L"\\" : L"";
    for (size_t i = 0; i < segments.size(); ++i)
    {
        if (i > 0)
            result += L"\\";
        result += segments[i];
    }
    if (endsWithSeparator)
        result += L"\\";
    for (wchar_t& c : result)
    {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return result;
}

std::wstring CFilePath::GetModuleDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const std::wstring normalized = Normalize(std::wstring(buffer, length));
    const size_t last = normalized.rfind(L'\\');
    return last == std::wstring::npos ? std::wstring() : normalized.substr(0, last + 1);
}

std::wstring CFilePath::MakeAbsolute(const std::wstring& path)
{
    if (path.empty() || IsRooted(path))
        return path;
    return GetModuleDirectory() + path;
}

} // namespace OV::System::IO
