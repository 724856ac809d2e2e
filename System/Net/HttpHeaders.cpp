#include "System/Net/HttpHeaders.h"

#include <limits>

namespace OV::System::Net
{

namespace
{

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The status line's fields around its first two blanks.
bool SplitStatusLine(const std::string& statusLine, std::string& code, std::string& text)
{
    const std::size_t first = statusLine.find(' ');
    if (first == std::string::npos)
        return false;
    const std::size_t second = statusLine.find(' ', first + 1);
    if (second == std::string::npos)
        return false;
    code = statusLine.substr(first + 1, second - first - 1);
    text = statusLine.substr(second + 1);
    return true;
}

} // namespace

std::vector<std::string> SplitRawHeaders(const char* buffer, std::size_t size)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < size)
    {
        std::size_t end = start;
        while (end < size && buffer[end] != '\0')
            ++end;
        if (end == start)
            break;
        lines.emplace_back(buffer + start, end - start);
        start = end + 1;
    }
    return lines;
}

bool FindHeaderValue(const std::vector<std::string>& lines, const std::string& prefix, std::string& value)
{
    if (prefix.rfind("Status-Code", 0) == 0 || prefix.rfind("Status-Text", 0) == 0)
    {
        std::string code;
        std::string text;
        if (lines.empty() || !SplitStatusLine(lines.front(), code, text))
            return false;
        value = prefix[7] == 'C' ? code : text;
        return true;
    }
    for (const std::string& line : lines)
    {
        if (line.compare(0, prefix.size(), prefix) == 0)
        {
            value = line.substr(prefix.size());
            return true;
        }
    }
    return false;
}

std::int32_t ParseStatusCode(const std::string& statusLine)
{
    std::string code;
    std::string text;
    if (!SplitStatusLine(statusLine, code, text) || code.empty() || code.size() > 9)
        return -1;
    std::int32_t number = 0;
    for (const char c : code)
    {
        if (!IsDigit(c))
            return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

ContentLengthValue ParseContentLength(const std::string& text, std::int64_t& length)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin == end)
        return ContentLengthValue::Unknown;

    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t number = 0;
    for (std::size_t i = begin; i < end; ++i)
    {
        if (!IsDigit(text[i]))
            return ContentLengthValue::Invalid;
        const int digit = text[i] - '0';
        if (number > (kMax - digit) / 10)
            return ContentLengthValue::Invalid;
        number = number * 10 + digit;
    }
    length = number;
    return ContentLengthValue::Valid;
}

} // namespace OV::System::Net
