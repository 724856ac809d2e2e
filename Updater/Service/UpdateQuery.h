#pragma once

#include "System/Platform.h"

#include <cstdint>
#include <string>

namespace OV::Updater::Service
{

// What the update service offers; empty texts and size 0 when it offers nothing or the query failed.
struct ClientUpdateOffer
{
    std::string installerUrl;
    std::string installerHash;
    std::int64_t installerSize = 0;
    std::string latestVersion;
};

// scheme://host/v1/client-updates/?productName=…&version=…&channel=…&dp=…&os=…&uid=…&c=… by plain
// concatenation (nothing escaped), with the OS version, the analytics visitor id (looked up with the user
// token `analyticsOption`) and the user's country.
std::string BuildClientUpdateUrl(const std::string& scheme, const std::string& productName,
                                 const std::string& channel, const std::string& dp,
                                 const std::string& version, HANDLE analyticsOption);

// "Mozilla/4.0 (compatible; MSIE 5.0; <productToken> <updaterVersion>)".
std::string BuildQueryUserAgent(const std::string& productToken, const std::string& updaterVersion);

// Copies "url", "hash", "size" and "version" out of the service's JSON answer; a field that is missing or
// of another type stays empty (or 0). Returns 0, or 773 (FailureParseURLResponse) when the text is not JSON;
// latestVersion is only written when the text parses.
std::uint32_t ParseClientUpdateAnswer(const std::string& body, ClientUpdateOffer& offer);

// Asks the update service which installer the product needs, with a 10 s limit. Returns 0 or an outcome
// code: 768 the request could not be created, 770 no completion in time, 771 no usable Content-Length (none,
// or a body shorter than announced), 772 no response, 773 not JSON. The outputs are cleared first.
std::uint32_t QueryClientUpdate(const std::string& scheme, const std::string& productName,
                                const std::string& channel, const std::string& dp, const std::string& version,
                                const std::string& productToken, const std::string& updaterVersion,
                                HANDLE analyticsOption, std::string& installerUrl, std::string& installerHash,
                                std::int64_t& installerSize, std::string& latestVersion);

} // namespace OV::Updater::Service
