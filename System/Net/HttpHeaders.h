#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// Reading the response header block as WinInet returns it for HTTP_QUERY_RAW_HEADERS: one line per
// header, status line first, each line ended by a zero byte.

// The lines of a raw header block of `size` bytes; an empty line ends it.
std::vector<std::string> SplitRawHeaders(const char* buffer, std::size_t size);

// The rest of the first line that begins with `prefix` (matched with case), or false when none does.
// The pseudo names "Status-Code" and "Status-Text" read the status line instead: the text between its
// first and second blank, and the text after the second blank.
bool FindHeaderValue(const std::vector<std::string>& lines, const std::string& prefix, std::string& value);

// The number between the first and second blank of a status line; -1 when there is no second blank or
// the text there is not a decimal number.
std::int32_t ParseStatusCode(const std::string& statusLine);

enum class ContentLengthValue
{
    Unknown, // no text (missing or empty header)
    Valid,   // a non-negative decimal number
    Invalid  // anything else: signs, letters, a number beyond 64 bits
};

// Reads a "Content-Length" value; blanks around the number are allowed.
ContentLengthValue ParseContentLength(const std::string& text, std::int64_t& length);

} // namespace OV::System::Net
