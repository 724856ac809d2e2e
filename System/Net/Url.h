#pragma once

#include <cstdint>
#include <string>

namespace OV::System::Net
{

// The parts of an absolute http(s) address, as the web request sends them.
struct Url
{
    std::string scheme;     // lower-cased; empty when the text names none
    std::string host;       // lower-cased
    std::uint32_t port = 0; // 80 for http, 443 for https when the text gives none
    std::string portText;   // the port in decimal
    std::string path;       // runs of "/" collapsed into one unless asked not to; "/" when the text has none
    std::string query;      // text after "?", without it
    std::string fragment;   // text after "#", without it

    // Splits the text. Whichever of "?" and "#" comes first after the path takes the whole rest of
    // the text. Raises CException for a port that is not a number from 1 to 65535. The web request
    // collapses runs of "/" in the path; the download engine asks for the path exactly as given.
    static Url Parse(const std::string& text, bool collapseSlashes = true);

    // What the request line names: the path, then "?" and the query when there is one.
    std::string GetObjectName() const;
};

} // namespace OV::System::Net
