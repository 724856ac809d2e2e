#include "Updater/Trust/ExecutablePath.h"

#include <cwctype>
#include <string>

namespace OV::Updater::Trust
{
namespace
{

constexpr std::size_t kLongestPath = 32767;

std::wstring Upper(std::wstring_view text)
{
    std::wstring upper(text);
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

bool IsPlainComponent(std::wstring_view name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    for (const wchar_t c : name)
    {
        if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos)
            return false;
    }
    // Windows drops trailing dots and blanks, so "a.exe." would open "a.exe" under another name.
    return name.back() != L'.' && name.back() != L' ';
}

bool IsReservedDeviceName(std::wstring_view name)
{
    // The device is meant whatever extension follows: "NUL.exe" is NUL.
    std::wstring stem = Upper(name.substr(0, name.find(L'.')));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           std::iswdigit(stem[3]);
}

} // namespace

bool IsPlainExecutableName(std::wstring_view name)
{
    return IsPlainComponent(name) && name.size() > 4 && Upper(name.substr(name.size() - 4)) == L".EXE" &&
           !IsReservedDeviceName(name);
}

bool IsPlainLocalExecutablePath(std::wstring_view path)
{
    if (path.size() < 4 || path.size() > kLongestPath || !std::iswalpha(path[0]) || path[0] > 0x7F ||
        path[1] != L':' || path[2] != L'\\')
        return false;
    std::wstring_view rest = path.substr(3);
    for (;;)
    {
        const std::size_t separator = rest.find(L'\\');
        if (separator == std::wstring_view::npos)
            return IsPlainExecutableName(rest);
        // An empty component ("a\\b") is one separator to Windows; the hand-off's own paths have one.
        const std::wstring_view component = rest.substr(0, separator);
        if (!component.empty() && (!IsPlainComponent(component) || IsReservedDeviceName(component)))
            return false;
        rest = rest.substr(separator + 1);
    }
}

} // namespace OV::Updater::Trust
