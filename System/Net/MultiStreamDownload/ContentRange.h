#pragma once

#include <cstdint>
#include <string>

namespace OV::System::Net::MultiStreamDownload
{

// A Content-Range header of a 206 answer: "bytes <first>-<last>/<total>", total "*" when unknown.
struct ContentRange
{
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool hasTotal = false;
    std::uint64_t total = 0;

    // False when the text is not of that form, the numbers are out of order or beyond 32 bits.
    static bool Parse(const std::string& text, ContentRange& range);
};

// The Content-Range of a 416 answer for an empty file: "bytes */0".
bool IsEmptyFileRange(const std::string& text);

// A header's unsigned decimal number (blanks around it allowed). False for anything else, such as "-5",
// "abc" or a value above 0xFFFFFFFF: a size the server did not really give must not be believed, since a
// wrong size could make a short file look complete.
bool ParseHeaderNumber(const std::string& text, std::uint32_t& value);

} // namespace OV::System::Net::MultiStreamDownload
