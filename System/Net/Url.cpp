#include "System/Net/Url.h"

#include "System/ErrorBoundary.h"

#include <cctype>

namespace OV::System::Net
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Net\\Url.cpp";

std::string ToLower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsSchemeText(const std::string& text)
{
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (const char c : text)
    {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

std::uint32_t DefaultPort(const std::string& scheme)
{
    if (scheme == "http")
        return 80;
    if (scheme == "https")
        return 443;
    return 0;
}

// The port a text names, or 0 when it names none (not a number from 1 to 65535).
std::uint32_t PortNumber(const std::string& text)
{
    std::uint32_t port = 0;
    bool valid = !text.empty() && text.size() <= 5;
    for (const char c : text)
    {
        if (!valid || !std::isdigit(static_cast<unsigned char>(c)))
        {
            valid = false;
            break;
        }
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return valid && port <= 65535 ? port : 0;
}

std::string CollapseSlashes(const std::string& path)
{
    std::string result;
    result.reserve(path.size());
    for (const char c : path)
    {
        if (c == '/' && !result.empty() && result.back() == '/')
            continue;
        result += c;
    }
    return result;
}

} // namespace

Url Url::Parse(const std::string& text, bool collapseSlashes)
{
    Url url;
    std::string rest = text;
    const std::size_t schemeEnd = text.find("://");
    if (schemeEnd != std::string::npos && IsSchemeText(text.substr(0, schemeEnd)))
    {
        url.scheme = ToLower(text.substr(0, schemeEnd));
        rest = text.substr(schemeEnd + 3);
    }

    const std::size_t authorityEnd = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, authorityEnd);
    const std::string remainder =
        authorityEnd == std::string::npos ? std::string() : rest.substr(authorityEnd);

    // User information is never sent by this request; drop it.
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);

    std::string portText;
    std::size_t colon = std::string::npos;
    if (!authority.empty() && authority[0] == '[')
    {
        const std::size_t close = authority.find(']');
        if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':')
            colon = close + 1;
    }
    else
    {
        colon = authority.rfind(':');
    }
    if (colon != std::string::npos)
    {
        portText = authority.substr(colon + 1);
        authority.erase(colon);
    }
    url.host = ToLower(authority);
    url.port = portText.empty() ? DefaultPort(url.scheme) : PortNumber(portText);
    OV_THROW_IF(!portText.empty() && url.port == 0, "Invalid port in URL: " + text);
    url.portText = std::to_string(url.port);

    const std::size_t pathEnd = remainder.find_first_of("?#");
    url.path = remainder.substr(0, pathEnd);
    if (collapseSlashes)
        url.path = CollapseSlashes(url.path);
    if (url.path.empty())
        url.path = "/";
    if (pathEnd != std::string::npos)
    {
        if (remainder[pathEnd] == '?')
            url.query = remainder.substr(pathEnd + 1);
        else
            url.fragment = remainder.substr(pathEnd + 1);
    }
    return url;
}

std::string Url::GetObjectName() const
{
    return query.empty() ? path : path + "?" + query;
}

} // namespace OV::System::Net
