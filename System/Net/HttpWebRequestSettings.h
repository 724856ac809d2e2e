#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{

// What the caller sets up before a web request starts; the worker takes a copy when it starts, so a
// change made while a transfer runs applies to the next one.
struct HttpWebRequestSettings
{
    std::string userAgent = "Mozilla/4.0 (compatible; MSIE 5.0; CDA 6.0)";
    std::string verb = "GET";
    std::string acceptType; // "*/*" when empty
    std::string connectionHeader;
    std::string contentTypeHeader;
    std::vector<std::string> extraHeaders;
    std::vector<char> body;
    // The caller's limits while it waits in GetResponseStream: the whole request (none when not
    // positive), and the time a single read may go without data (none below 1).
    std::int32_t totalTimeoutMs = -1;
    std::int32_t stallTimeoutMs = 10000;
    std::uint64_t maxLength = ~std::uint64_t(0);
};

} // namespace OV::System::Net
