// Runs one CHttpWebRequest with settings from its command line and prints what came of it, one
// "key: value" line each, for the end-to-end tests and the benchmark.
//
//   --url U             the address (required)
//   --out PATH          body appended to this file instead of memory
//   --next-out PATH     set as the output file once the transfer runs (becomes the next output file)
//   --restart           after the first transfer, run the request again (into the next output file)
//   --max-length N, --stall-ms N, --total-ms N
//   --verb V, --body TEXT, --header LINE (repeatable), --connection V, --content-type V, --accept V,
//   --user-agent V
//   --wait poll|stream  poll IsComplete (default) or wait in GetResponseStream
//   --abort-after-ms N  call Abort from another thread after N ms
//   --release-after-ms N  destroy the running request after N ms (as a caller that gives up does)
//   --progress          print the distinct progress values seen while polling
//   --body-out PATH     also write the body kept in memory to this file
#include "System/Exception.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Platform.h"
#include "System/Stopwatch.h"
#include "System/String/AnsiWide.h"
#include "Updater/Trust/Sha256Hash.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using OV::System::CException;
using OV::System::CStopwatch;
using OV::System::Net::CHttpWebRequest;

namespace
{

struct Options
{
    std::string url;
    std::wstring out;
    std::wstring nextOut;
    std::wstring bodyOut;
    bool restart = false;
    bool progress = false;
    bool waitStream = false;
    long long maxLength = -1;
    long long stallMs = -2;
    long long totalMs = -2;
    long long abortAfterMs = -1;
    long long releaseAfterMs = -1;
    std::string verb;
    std::string body;
    std::vector<std::string> headers;
    std::string connection;
    std::string contentType;
    std::string accept;
    std::string userAgent;
};

std::string Escape(const std::string& text)
{
    std::string result;
    for (const char c : text)
    {
        if (c == '\r')
            result += "\\r";
        else if (c == '\n')
            result += "\\n";
        else
            result += c;
    }
    return result;
}

void Print(const char* key, const std::string& value)
{
    std::printf("%s: %s\n", key, Escape(value).c_str());
}

void Print(const char* key, long long value)
{
    std::printf("%s: %lld\n", key, value);
}

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring name = argv[i];
        if (name == L"--restart")
        {
            options.restart = true;
            continue;
        }
        if (name == L"--progress")
        {
            options.progress = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::wstring value = argv[++i];
        const std::string narrow = OV::WideToAnsi(value);
        if (name == L"--url")
            options.url = narrow;
        else if (name == L"--out")
            options.out = value;
        else if (name == L"--next-out")
            options.nextOut = value;
        else if (name == L"--body-out")
            options.bodyOut = value;
        else if (name == L"--max-length")
            options.maxLength = std::stoll(narrow);
        else if (name == L"--stall-ms")
            options.stallMs = std::stoll(narrow);
        else if (name == L"--total-ms")
            options.totalMs = std::stoll(narrow);
        else if (name == L"--abort-after-ms")
            options.abortAfterMs = std::stoll(narrow);
        else if (name == L"--release-after-ms")
            options.releaseAfterMs = std::stoll(narrow);
        else if (name == L"--wait")
            options.waitStream = value == L"stream";
        else if (name == L"--verb")
            options.verb = narrow;
        else if (name == L"--body")
            options.body = narrow;
        else if (name == L"--header")
            options.headers.push_back(narrow);
        else if (name == L"--connection")
            options.connection = narrow;
        else if (name == L"--content-type")
            options.contentType = narrow;
        else if (name == L"--accept")
            options.accept = narrow;
        else if (name == L"--user-agent")
            options.userAgent = narrow;
        else
            return false;
    }
    return !options.url.empty();
}

// SHA-256 of the memory body, in lower-case hex; also writes it to `copyPath` when given.
std::string HashBody(const CHttpWebRequest& request, const std::wstring& copyPath, long long& length)
{
    OV::Updater::Trust::CSha256Hash hash;
    if (!hash.Start())
        return "crypt-acquire-failed";
    FILE* copy = copyPath.empty() ? nullptr : ::_wfopen(copyPath.c_str(), L"wb");
    const auto stream = request.GetBodyStream();
    stream->SetPosition(0);
    std::vector<unsigned char> buffer(1 << 16);
    length = 0;
    for (;;)
    {
        const auto read = stream->Read(buffer.data(), static_cast<std::int32_t>(buffer.size()));
        if (read <= 0)
            break;
        length += read;
        hash.Add(buffer.data(), static_cast<std::size_t>(read));
        if (copy)
            std::fwrite(buffer.data(), 1, static_cast<std::size_t>(read), copy);
    }
    if (copy)
        std::fclose(copy);
    OV::Updater::Trust::Sha256Digest digest{};
    hash.Finish(digest);
    std::string hex = OV::Updater::Trust::DigestToHex(digest);
    for (char& c : hex)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return hex;
}

// Polls like the installer download does, collecting each new progress value.
void PollUntilComplete(const CHttpWebRequest& request, std::vector<float>& samples)
{
    for (;;)
    {
        const float progress = request.GetProgressPercent();
        if (samples.empty() || samples.back() != progress)
            samples.push_back(progress);
        if (request.IsComplete())
            break;
        ::Sleep(5);
    }
    const float last = request.GetProgressPercent();
    if (samples.back() != last)
        samples.push_back(last);
}

void Report(const CHttpWebRequest& request)
{
    Print("got-response", request.GotResponse() ? 1 : 0);
    Print("status", request.GetStatusCode());
    Print("state", request.GetState());
    Print("detail", request.GetFailureDetail());
    Print("failed", request.IsFailed() ? 1 : 0);
    Print("cancelled", request.IsCancelled() ? 1 : 0);
    Print("error", request.GetErrorCode());
    Print("failure-text", request.GetFailureText());
    Print("content-length", request.GetContentLength());
    Print("expected-total", request.GetExpectedTotal());
    Print("bytes-received", static_cast<long long>(request.GetBytesReceived()));
    Print("succeeded", request.Succeeded() ? 1 : 0);
    Print("progress-final", static_cast<long long>(request.GetProgressPercent()));
    Print("status-text", request.GetHeader("Status-Text"));
    for (const std::string& line : request.GetHeaderLines())
        Print("header", line);
    Print("certificate-subject", request.GetCertificateSubject());
    Print("certificate-issuer", request.GetCertificateIssuer());
    Print("certificate-text", request.GetCertificateText());
    Print("output-file", OV::WideToAnsi(request.GetOutputFile()));
    Print("next-output-file", OV::WideToAnsi(request.GetNextOutputFile()));
}

int Run(const Options& options)
{
    CStopwatch total;
    total.Start();
    auto owned = std::make_unique<CHttpWebRequest>(options.url);
    CHttpWebRequest& request = *owned;
    if (!options.out.empty())
        request.SetOutputFile(options.out);
    if (options.maxLength >= 0)
        request.SetMaxLength(static_cast<std::uint64_t>(options.maxLength));
    if (options.stallMs != -2)
        request.SetStallTimeoutMs(static_cast<std::int32_t>(options.stallMs));
    if (options.totalMs != -2)
        request.SetTotalTimeoutMs(static_cast<std::int32_t>(options.totalMs));
    if (!options.verb.empty())
        request.SetVerb(options.verb);
    if (!options.body.empty())
        request.SetRequestBody(options.body.data(), options.body.size());
    request.SetExtraHeaders(options.headers);
    request.SetConnectionHeader(options.connection);
    request.SetContentTypeHeader(options.contentType);
    request.SetAcceptType(options.accept);
    if (!options.userAgent.empty())
        request.SetUserAgent(options.userAgent);

    request.Start();
    if (!options.nextOut.empty())
        request.SetOutputFile(options.nextOut);

    if (options.releaseAfterMs >= 0)
    {
        ::Sleep(static_cast<DWORD>(options.releaseAfterMs));
        Print("complete-before-release", request.IsComplete() ? 1 : 0);
        CStopwatch releaseTimer;
        releaseTimer.Start();
        owned.reset();
        Print("released-after-ms", static_cast<long long>(releaseTimer.GetElapsedMs()));
        return 0;
    }

    std::thread aborter;
    long long abortReturnedMs = -1;
    if (options.abortAfterMs >= 0)
    {
        aborter = std::thread(
            [&request, &options, &abortReturnedMs]
            {
                ::Sleep(static_cast<DWORD>(options.abortAfterMs));
                CStopwatch abortTimer;
                abortTimer.Start();
                request.Abort();
                abortReturnedMs = static_cast<long long>(abortTimer.GetElapsedMs());
            });
    }

    std::vector<float> samples;
    if (options.waitStream)
        request.GetResponseStream();
    else
        PollUntilComplete(request, samples);
    // The request may be complete while an abort still waits for the worker's last steps.
    while (!request.IsComplete())
        request.WaitForWorker(100);
    if (aborter.joinable())
        aborter.join();
    Print("elapsed-ms", static_cast<long long>(total.GetElapsedMs()));
    Report(request);
    if (options.abortAfterMs >= 0)
        Print("abort-returned-after-ms", abortReturnedMs);
    if (options.progress)
    {
        std::string text;
        for (const float sample : samples)
        {
            char value[32];
            std::snprintf(value, sizeof(value), "%s%.3f", text.empty() ? "" : " ", sample);
            text += value;
        }
        Print("progress", text);
    }
    if (options.out.empty())
    {
        long long length = 0;
        Print("body-sha256", HashBody(request, options.bodyOut, length));
        Print("body-length", length);
    }
    if (options.restart)
    {
        request.StartDownloadFromMainThread();
        while (!request.IsComplete())
            request.WaitForWorker(100);
        Print("restart-succeeded", request.Succeeded() ? 1 : 0);
        Print("restart-output-file", OV::WideToAnsi(request.GetOutputFile()));
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
    {
        std::fprintf(stderr, "usage: WebRequestDriver --url URL [options]\n");
        return 2;
    }
    try
    {
        const int code = Run(options);
        std::fflush(stdout);
        return code;
    }
    catch (const CException& e)
    {
        Print("exception", OV::WideToAnsi(e.GetMessageText()));
        Print("exception-function", e.GetFunction());
        Print("exception-file", e.GetSourceFile());
        Print("exception-line", e.GetLine());
        std::fflush(stdout);
        return 3;
    }
}
