#pragma once

#include "System/Platform.h"

#include <wininet.h>

#include <string>

namespace OV::System::Net
{

// The server certificate of an answer that came over TLS, as WinInet formats it.
struct HttpWebRequestCertificate
{
    // Empty for an answer that did not come over TLS.
    static HttpWebRequestCertificate Read(HINTERNET request);

    std::string text;
    std::string subject;
    std::string issuer;
};

} // namespace OV::System::Net
