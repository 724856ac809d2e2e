// Drives the analytics of the program from the end-to-end tests, one real process per call.
//   AnalyticsDriver [--data-file <name>] <command> ...
//     report <count> <tag> [<locale>]  as a run: reporter (upload starts), ReportResultText("<tag>-<nnn>")
//                                      for n = 0..count-1, then the reporter's end; prints end-wait-ms
//     late <delay-ms> <tag>            as a run that fails early: reporter, a pause,
//     ReportResultText("<tag>-000"),
//                                      then the reporter's end
//     result <code>                    the outcome's name (consent category 2), then the reporter's end
//     succeeded                        ReportSucceeded() (consent category 1), then the reporter's end
//     queue <count> <tag>              appends the run's events without uploading; prints queued/dropped
//     upload <timeout-ms>              uploads until the queue is empty, the upload ends, or the time is up
//     compose <result>                 prints the hit the run's event with that result would carry
//     consent <category>...            prints consent=<0|1 for each category>
//     visitor-id                       prints visitor-id=<id>
//     user-agent                       prints user-agent=<text>
#include "Analytics/AnalyticsBase.h"
#include "Analytics/AnalyticsGa4.h"
#include "Analytics/AnalyticsReporter.h"
#include "Analytics/Consent.h"
#include "Analytics/VisitorId.h"
#include "System/Exception.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "Updater/RunOutcome.h"
#include "Updater/Service/Version.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace OV::Analytics;
using OV::System::CRefPtr;

namespace
{

int Usage()
{
    std::fprintf(stderr, "usage: AnalyticsDriver [--data-file <name>] "
                         "report|result|succeeded|queue|upload|compose|consent|visitor-id|user-agent ...\n");
    return 2;
}

std::wstring Numbered(const std::wstring& tag, int index)
{
    wchar_t number[16] = {};
    std::swprintf(number, 16, L"%03d", index);
    return tag + L"-" + number;
}

CRefPtr<CAnalyticsReporter> MakeReporter(const std::wstring& dataFileName, const std::wstring& locale)
{
    return OV::System::MakeRef<CAnalyticsReporter>(L"fablewick", locale, L"TesselAGGamesApp",
                                                   OV::Updater::Service::kUpdaterVersionW,
                                                   OV::System::MakeRef<CAnalyticsGa4>(dataFileName));
}

// Drops the last reference like the run does, and reports how long the reporter's end took.
void EndReporter(CRefPtr<CAnalyticsReporter>& reporter)
{
    const ULONGLONG start = ::GetTickCount64();
    reporter.Reset();
    std::printf("end-wait-ms=%llu\n", static_cast<unsigned long long>(::GetTickCount64() - start));
}

int Run(const std::wstring& dataFileName, const std::vector<std::wstring>& args)
{
    const std::wstring& command = args[0];
    if (command == L"report" && (args.size() == 3 || args.size() == 4))
    {
        const int count = std::stoi(args[1]);
        CRefPtr<CAnalyticsReporter> reporter =
            MakeReporter(dataFileName, args.size() == 4 ? args[3] : L"en-us");
        for (int i = 0; i < count; ++i)
            reporter->ReportResultText(Numbered(args[2], i));
        std::printf("reported=%d\n", count);
        EndReporter(reporter);
        return 0;
    }
    if (command == L"late" && args.size() == 3)
    {
        CRefPtr<CAnalyticsReporter> reporter = MakeReporter(dataFileName, L"en-us");
        ::Sleep(static_cast<DWORD>(std::stoul(args[1])));
        reporter->ReportResultText(Numbered(args[2], 0));
        EndReporter(reporter);
        return 0;
    }
    if (command == L"result" && args.size() == 2)
    {
        CRefPtr<CAnalyticsReporter> reporter = MakeReporter(dataFileName, L"en-us");
        const auto code = static_cast<std::uint32_t>(std::stoul(args[1], nullptr, 0));
        reporter->ReportResultText(OV::AnsiToWide(OV::Updater::GetResultName(code)));
        EndReporter(reporter);
        return 0;
    }
    if (command == L"succeeded" && args.size() == 1)
    {
        CRefPtr<CAnalyticsReporter> reporter = MakeReporter(dataFileName, L"en-us");
        reporter->ReportSucceeded();
        EndReporter(reporter);
        return 0;
    }
    if (command == L"queue" && args.size() == 3)
    {
        const int count = std::stoi(args[1]);
        const auto analytics = OV::System::MakeRef<CAnalyticsGa4>(dataFileName);
        // The run's events, queued without a reporter so that nothing is uploaded.
        int queued = 0;
        for (int i = 0; i < count; ++i)
        {
            const std::string hit = CAnalyticsReporter::ComposeRunEvent(
                OV::Updater::Service::kUpdaterVersionW, L"en-us", Numbered(args[2], i));
            queued += analytics->AddItem(hit, std::string()) ? 1 : 0;
        }
        std::printf("queued=%d\ndropped=%d\n", queued, count - queued);
        return 0;
    }
    if (command == L"upload" && args.size() == 2)
    {
        const ULONGLONG limit = std::stoull(args[1]);
        const auto analytics = OV::System::MakeRef<CAnalyticsGa4>(dataFileName);
        const ULONGLONG start = ::GetTickCount64();
        analytics->StartUpload();
        while (analytics->IsUploading() && ::GetTickCount64() - start < limit)
            ::Sleep(50);
        std::printf("uploading=%d\npending=%llu\nelapsed-ms=%llu\n", analytics->IsUploading() ? 1 : 0,
                    static_cast<unsigned long long>(analytics->GetPendingBytes()),
                    static_cast<unsigned long long>(::GetTickCount64() - start));
        return 0;
    }
    if (command == L"compose" && args.size() == 2)
    {
        std::printf("query=%s\n", CAnalyticsReporter::ComposeRunEvent(OV::Updater::Service::kUpdaterVersionW,
                                                                      L"en-us", args[1])
                                      .c_str());
        return 0;
    }
    if (command == L"consent" && args.size() >= 2)
    {
        std::string decisions;
        for (std::size_t i = 1; i < args.size(); ++i)
            decisions += IsConsentGiven(std::stoi(args[i])) ? "1" : "0";
        std::printf("consent=%s\n", decisions.c_str());
        return 0;
    }
    if (command == L"visitor-id" && args.size() == 1)
    {
        std::printf("visitor-id=%s\n", OV::WideToAnsi(GetVisitorId()).c_str());
        return 0;
    }
    if (command == L"user-agent" && args.size() == 1)
    {
        std::printf("user-agent=%s\n",
                    OV::WideToAnsi(OV::Analytics::CAnalyticsUploader::BuildUserAgent()).c_str());
        return 0;
    }
    return Usage();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring dataFileName = CAnalyticsGa4::kDataFileName;
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == L"--data-file")
    {
        dataFileName = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return Usage();
    int result = 1;
    try
    {
        result = Run(dataFileName, args);
    }
    catch (const OV::System::CException& e)
    {
        std::printf("exception=%s\n", OV::WideToAnsi(e.GetDescription()).c_str());
    }
    catch (const std::exception& e)
    {
        std::printf("exception=%s\n", e.what());
    }
    std::fflush(stdout);
    return result;
}
