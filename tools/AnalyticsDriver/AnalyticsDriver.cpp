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
//     dump                             prints the queue's records with the program's own queue code, under
//                                      the queue mutex, without changing it (a damaged header is repaired
//                                      as every queue operation would), one line each:
//                                        header version=<v> pending=<n> first=<offset> size=<bytes>
//                                        repaired=<0|1>, record offset=<o> size=<s> extra=<hex> query=<text>,
//                                        then end offset=<o> | damaged offset=<o> | error <text>
//     query <scheme> <productName> <channel> <dp> <version>
//                                      runs the update query once, as the run does, and prints its result
#include "Analytics/AnalyticsBase.h"
#include "Analytics/AnalyticsGa4.h"
#include "Analytics/AnalyticsReporter.h"
#include "Analytics/Consent.h"
#include "Analytics/NamedMutexHold.h"
#include "Analytics/QueueFile.h"
#include "Analytics/VisitorId.h"
#include "System/Exception.h"
#include "System/Platform.h"
#include "System/Stopwatch.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"
#include "Updater/RunOutcome.h"
#include "Updater/Service/UpdateQuery.h"
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
    std::fprintf(stderr,
                 "usage: AnalyticsDriver [--data-file <name>] "
                 "report|late|result|succeeded|queue|upload|compose|consent|visitor-id|dump|query ...\n");
    return 2;
}

std::string Hex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes)
    {
        text += kDigits[(static_cast<unsigned char>(c) >> 4) & 0x0F];
        text += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return text;
}

int Dump(const std::wstring& dataFileName)
{
    const std::wstring mutexName = CAnalyticsBase::GetQueueMutexName(dataFileName);
    OV::System::Win32::CHandleHolder mutex(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    if (!mutex)
    {
        std::printf("error cannot create the queue mutex (%lu)\n", ::GetLastError());
        return 1;
    }
    // A writer killed while holding the mutex leaves it abandoned; reading the file is still safe, since
    // every record is checked.
    CNamedMutexHold hold(mutex.Get(), nullptr, CNamedMutexHold::Abandoned::TakeOver);
    if (!hold.IsHeld())
    {
        std::printf("error queue mutex not obtained\n");
        return 1;
    }
    CQueueFile file(CAnalyticsBase::GetQueuePathFor(dataFileName));
    if (!file.IsOpen())
    {
        std::printf("error cannot open the queue file (%lu)\n", ::GetLastError());
        return 1;
    }
    const QueueHeader& header = file.Header();
    std::printf("header version=%u pending=%u first=%u size=%lld repaired=%d\n", header.version,
                header.pendingRecords, header.firstPendingOffset, static_cast<long long>(file.GetSize()),
                file.WasRepaired() ? 1 : 0);
    std::uint32_t offset = header.firstPendingOffset;
    for (;;)
    {
        QueueItem item;
        const CQueueFile::ReadStatus status = file.ReadItem(offset, item);
        if (status == CQueueFile::ReadStatus::End)
        {
            std::printf("end offset=%u\n", offset);
            return 0;
        }
        if (status == CQueueFile::ReadStatus::Damaged)
        {
            std::printf("damaged offset=%u\n", offset);
            return 0;
        }
        std::printf("record offset=%u size=%u extra=%s query=%s\n", offset, item.recordSize,
                    Hex(item.extra).c_str(), item.query.c_str());
        offset += item.recordSize;
    }
}

int Query(const std::vector<std::wstring>& args)
{
    using namespace OV::Updater::Service;
    std::string url, hash, version;
    std::int64_t size = -1;
    OV::System::CStopwatch stopwatch;
    stopwatch.Start();
    const std::uint32_t result = QueryClientUpdate(
        OV::WideToAnsi(args[1]), OV::WideToAnsi(args[2]), OV::WideToAnsi(args[3]), OV::WideToAnsi(args[4]),
        OV::WideToAnsi(args[5]), kProductToken, kUpdaterVersion, nullptr, url, hash, size, version);
    std::printf("result=%u\nurl=%s\nhash=%s\nsize=%lld\nversion=%s\nelapsed-ms=%llu\n", result, url.c_str(),
                hash.c_str(), static_cast<long long>(size), version.c_str(),
                static_cast<unsigned long long>(stopwatch.GetElapsedMs()));
    return 0;
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
    // A run that fails early (a pause first), one that ends with an outcome, one that succeeds.
    if ((command == L"late" && args.size() == 3) || (command == L"result" && args.size() == 2) ||
        (command == L"succeeded" && args.size() == 1))
    {
        CRefPtr<CAnalyticsReporter> reporter = MakeReporter(dataFileName, L"en-us");
        if (command == L"late")
        {
            ::Sleep(static_cast<DWORD>(std::stoul(args[1])));
            reporter->ReportResultText(Numbered(args[2], 0));
        }
        else if (command == L"result")
        {
            const auto code = static_cast<std::uint32_t>(std::stoul(args[1], nullptr, 0));
            reporter->ReportResultText(OV::AnsiToWide(OV::Updater::GetResultName(code)));
        }
        else
        {
            reporter->ReportSucceeded();
        }
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
    if (command == L"dump" && args.size() == 1)
        return Dump(dataFileName);
    if (command == L"query" && args.size() == 6)
        return Query(args);
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
