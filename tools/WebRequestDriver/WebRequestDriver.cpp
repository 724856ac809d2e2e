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
#include "System/Exception.h"
#include "ToolArgs.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Platform.h"
#include "System/Stopwatch.h"
#include "System/String/AnsiWide.h"
#include "Updater/Trust/FileHash.h"

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

// SHA-256 of the memory body, in lower-case hex.
std::string HashBody(const CHttpWebRequest& request)
{
    const auto stream = request.GetBodyStream();
    stream->SetPosition(0);
    OV::Updater::Trust::Sha256Digest digest{};
    if (!OV::Updater::Trust::Sha256OfStream(*stream, digest))
        return "hash-failed";
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

int Run(const OV::Tools::CArguments& options)
{
    CStopwatch total;
    total.Start();
    auto owned = std::make_unique<CHttpWebRequest>(options.Narrow(L"--url"));
    CHttpWebRequest& request = *owned;
    const std::wstring out = options.Text(L"--out");
    if (!out.empty())
        request.SetOutputFile(out);
    if (options.Has(L"--max-length"))
        request.SetMaxLength(static_cast<std::uint64_t>(options.Number(L"--max-length", 0)));
    if (options.Has(L"--stall-ms"))
        request.SetStallTimeoutMs(static_cast<std::int32_t>(options.Number(L"--stall-ms", 0)));
    if (options.Has(L"--total-ms"))
        request.SetTotalTimeoutMs(static_cast<std::int32_t>(options.Number(L"--total-ms", 0)));
    if (options.Has(L"--verb"))
        request.SetVerb(options.Narrow(L"--verb"));
    const std::string body = options.Narrow(L"--body");
    if (!body.empty())
        request.SetRequestBody(body.data(), body.size());
    std::vector<std::string> headers;
    for (const std::wstring& header : options.All(L"--header"))
        headers.push_back(OV::WideToAnsi(header));
    request.SetExtraHeaders(headers);
    request.SetConnectionHeader(options.Narrow(L"--connection"));
    request.SetContentTypeHeader(options.Narrow(L"--content-type"));
    request.SetAcceptType(options.Narrow(L"--accept"));
    if (options.Has(L"--user-agent"))
        request.SetUserAgent(options.Narrow(L"--user-agent"));

    request.Start();
    if (options.Has(L"--next-out"))
        request.SetOutputFile(options.Text(L"--next-out"));

    if (options.Has(L"--release-after-ms"))
    {
        ::Sleep(static_cast<DWORD>(options.Number(L"--release-after-ms", 0)));
        Print("complete-before-release", request.IsComplete() ? 1 : 0);
        CStopwatch releaseTimer;
        releaseTimer.Start();
        owned.reset();
        Print("released-after-ms", static_cast<long long>(releaseTimer.GetElapsedMs()));
        return 0;
    }

    std::thread aborter;
    long long abortReturnedMs = -1;
    const long long abortAfterMs = options.Number(L"--abort-after-ms", -1);
    if (abortAfterMs >= 0)
    {
        aborter = std::thread(
            [&request, abortAfterMs, &abortReturnedMs]
            {
                ::Sleep(static_cast<DWORD>(abortAfterMs));
                CStopwatch abortTimer;
                abortTimer.Start();
                request.Abort();
                abortReturnedMs = static_cast<long long>(abortTimer.GetElapsedMs());
            });
    }

    std::vector<float> samples;
    if (options.Text(L"--wait") == L"stream")
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
    if (abortAfterMs >= 0)
        Print("abort-returned-after-ms", abortReturnedMs);
    if (options.Has(L"--progress"))
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
    if (out.empty())
    {
        Print("body-sha256", HashBody(request));
        Print("body-length", request.GetBodyStream()->GetLength());
    }
    if (options.Has(L"--restart"))
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
    const OV::Tools::CArguments options(argc, argv, {L"--restart", L"--progress"});
    if (!options.IsValid() || !options.Has(L"--url"))
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
