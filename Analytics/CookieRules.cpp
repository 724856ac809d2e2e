#include "Analytics/CookieRules.h"

#include <vector>

namespace OV::Analytics
{

namespace
{

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (at == std::wstring::npos)
            return parts;
        start = at + 1;
    }
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

constexpr std::size_t kGaCookiePrefixLength = 6; // "GA1.2." and the like

} // namespace

bool IsConsentGivenByCookie(const std::wstring& consentCookie, int category)
{
    if (category == 0)
        return true;

    static const std::wstring kGroupsKey = L"&groups=";
    const std::size_t groupsAt = consentCookie.find(kGroupsKey);
    if (groupsAt == std::wstring::npos)
        return false;
    std::wstring groups = consentCookie.substr(groupsAt + kGroupsKey.size());
    groups = groups.substr(0, groups.find(L'&'));
    // The cookie keeps the list URL-encoded; only these two escapes matter for it.
    groups = ReplaceAll(groups, L"%2C", L"&");
    groups = ReplaceAll(groups, L"%3A", L"=");

    const wchar_t wanted = static_cast<wchar_t>(L'1' + category);
    for (const std::wstring& item : Split(groups, L'&'))
    {
        const std::vector<std::wstring> parts = Split(item, L'=');
        if (parts.size() != 2)
            continue;
        const std::wstring& group = parts[0];
        if (group.size() == 5 && group.compare(0, 4, L"C000") == 0 && group[4] == wanted)
            return parts[1] == L"1";
    }
    return false;
}

std::wstring GaClientIdFromCookie(const std::wstring& cookie)
{
    if (cookie.size() <= kGaCookiePrefixLength)
        return std::wstring();
    std::wstring rest = cookie.substr(kGaCookiePrefixLength);
    if (rest.find_first_not_of(L"+-.0123456789") != std::wstring::npos)
        return std::wstring();
    return rest;
}

} // namespace OV::Analytics
