#include "System/Net/MultiStreamDownload/ContentRange.h"

#include <cctype>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr std::uint64_t kLimit = 0xFFFFFFFFull; // offsets are 32-bit

bool ReadNumber(const std::string& text, std::size_t& at, std::uint64_t& value)
{
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
    {
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
        if (value > kLimit + 1)
            return false;
        ++at;
    }
    return at > start;
}

void SkipBlanks(const std::string& text, std::size_t& at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
}

} // namespace

bool ContentRange::Parse(const std::string& text, ContentRange& range)
{
    range = ContentRange();
    std::size_t at = 0;
    SkipBlanks(text, at);
    if (text.compare(at, 6, "bytes ") != 0)
        return false;
    at += 6;
    SkipBlanks(text, at);
    if (!ReadNumber(text, at, range.first) || at >= text.size() || text[at] != '-')
        return false;
    ++at;
    if (!ReadNumber(text, at, range.last) || at >= text.size() || text[at] != '/')
        return false;
    ++at;
    if (at < text.size() && text[at] == '*')
    {
        ++at;
    }
    else
    {
        if (!ReadNumber(text, at, range.total) || range.total > kLimit)
            return false;
        range.hasTotal = true;
    }
    SkipBlanks(text, at);
    return at == text.size() && range.first <= range.last && range.last <= kLimit &&
           (!range.hasTotal || range.last < range.total);
}

bool IsEmptyFileRange(const std::string& text)
{
    std::size_t at = 0;
    SkipBlanks(text, at);
    if (text.compare(at, 8, "bytes */") != 0)
        return false;
    at += 8;
    std::uint64_t total = 0;
    if (!ReadNumber(text, at, total) || total != 0)
        return false;
    SkipBlanks(text, at);
    return at == text.size();
}

bool ParseHeaderNumber(const std::string& text, std::uint32_t& value)
{
    std::size_t at = 0;
    SkipBlanks(text, at);
    std::uint64_t number = 0;
    if (!ReadNumber(text, at, number) || number > kLimit)
        return false;
    SkipBlanks(text, at);
    if (at != text.size())
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

} // namespace OV::System::Net::MultiStreamDownload
