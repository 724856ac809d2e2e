#include "Updater/Service/UpdateQuery.h"

#include "Analytics/VisitorId.h"
#include "System/Exception.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Stopwatch.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "Updater/RunOutcome.h"
#include "Updater/Service/ServiceHost.h"

#include <json/json.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace OV::Updater::Service
{

namespace
{

constexpr std::uint64_t kQueryTimeLimitMs = 10000;
constexpr DWORD kQueryPollMs = 10;

std::string StringField(const Json::Value& root, const char* key)
{
    return root.isMember(key) && root[key].isString() ? root[key].asString() : std::string();
}

// The body as announced, or false when its length is unknown or fewer bytes arrived than announced (a
// connection closed early must not pass as an answer).
bool ReadAnnouncedBody(const System::Net::CHttpWebRequest& request, std::string& body)
{
    const std::int64_t length = request.GetContentLength();
    if (length < 0)
        return false;
    const System::CRefPtr<System::IO::Stream::CMemoryStream> stream = request.GetBodyStream();
    const std::int64_t available = stream ? stream->GetLength() : 0;
    if (available < length)
        return false;
    body.assign(static_cast<std::size_t>(length), '\0');
    stream->SetPosition(0);
    std::int64_t done = 0;
    while (done < length)
    {
        const std::int32_t piece = static_cast<std::int32_t>(std::min<std::int64_t>(length - done, 1 << 30));
        const std::int32_t read = stream->Read(&body[static_cast<std::size_t>(done)], piece);
        if (read <= 0)
            return false;
        done += read;
    }
    return true;
}

} // namespace

std::string BuildClientUpdateUrl(const std::string& scheme, const std::string& productName,
                                 const std::string& channel, const std::string& dp,
                                 const std::string& version, HANDLE analyticsOption)
{
    return scheme + "://" + ServiceHost() + "/v1/client-updates/" + "?productName=" + productName +
           "&version=" + version + "&channel=" + channel + "&dp=" + dp +
           "&os=" + OV::WideToAnsi(System::GetOsVersionText()) +
           "&uid=" + OV::WideToAnsi(Analytics::GetVisitorId(analyticsOption)) +
           "&c=" + OV::WideToAnsi(System::GetUserCountryCode());
}

std::string BuildQueryUserAgent(const std::string& productToken, const std::string& updaterVersion)
{
    return "Mozilla/4.0 (compatible; MSIE 5.0; " + productToken + " " + updaterVersion + ")";
}

std::uint32_t ParseClientUpdateAnswer(const std::string& body, ClientUpdateOffer& offer)
{
    Json::Value root;
    try
    {
        Json::Reader reader;
        if (!reader.parse(body, root, true))
            return FailureParseURLResponse;
    }
    catch (const std::exception&)
    {
        // The reader refuses nesting deeper than its stack limit by throwing.
        return FailureParseURLResponse;
    }
    // A root that is not an object carries no fields.
    if (!root.isObject())
        root = Json::Value(Json::objectValue);
    offer.installerHash = StringField(root, "hash");
    offer.installerSize = root.isMember("size") && root["size"].isInt64() ? root["size"].asInt64() : 0;
    offer.installerUrl = StringField(root, "url");
    offer.latestVersion = StringField(root, "version");
    return Success;
}

std::uint32_t QueryClientUpdate(const std::string& scheme, const std::string& productName,
                                const std::string& channel, const std::string& dp, const std::string& version,
                                const std::string& productToken, const std::string& updaterVersion,
                                HANDLE analyticsOption, std::string& installerUrl, std::string& installerHash,
                                std::int64_t& installerSize, std::string& latestVersion)
{
    installerUrl.clear();
    installerHash.clear();
    installerSize = 0;

    const std::string url = BuildClientUpdateUrl(scheme, productName, channel, dp, version, analyticsOption);
    std::unique_ptr<System::Net::CHttpWebRequest> request;
    try
    {
        request = std::make_unique<System::Net::CHttpWebRequest>(url);
    }
    catch (const System::CException&)
    {
        return FailureGetURLCWebRequest;
    }
    request->SetUserAgent(BuildQueryUserAgent(productToken, updaterVersion));
    request->Start();
    System::CStopwatch stopwatch;
    stopwatch.Start();

    while (!request->IsComplete())
    {
        if (stopwatch.GetElapsedMs() > kQueryTimeLimitMs)
            return FailureGetURLTimeOut; // releasing the request aborts the transfer
        // A step ends the moment the worker does, so the answer is read as soon as it is there; the sleep
        // only paces a worker that has gone without the request being complete yet.
        if (request->WaitForWorker(kQueryPollMs) && !request->IsComplete())
            ::Sleep(kQueryPollMs);
    }
    if (!request->GotResponse())
        return FailureGetURLNoResp;

    std::string body;
    if (!ReadAnnouncedBody(*request, body))
        return FailureGetURLBadLen;

    ClientUpdateOffer offer;
    const std::uint32_t result = ParseClientUpdateAnswer(body, offer);
    if (result != Success)
        return result;
    installerUrl = offer.installerUrl;
    installerHash = offer.installerHash;
    installerSize = offer.installerSize;
    latestVersion = offer.latestVersion;
    return Success;
}

} // namespace OV::Updater::Service
