// Test and benchmark driver: runs the multi-stream download engine alone on one or more targets and
// prints what it sees, so that tests can kill it at any moment and start it again on the same target.
//
//   DownloadDriver.exe --url URL --target PATH [options]
//   DownloadDriver.exe --batch LIST [--parallel N] [options]     LIST: UTF-8 lines "URL<TAB>TARGET"
//
// Options: --retries N (default 5), --timeout-ms N (receive time-out of the streams), --max-size N (the
//          announced size: the largest file accepted), --stall-window-ms N (a connection that delivers less
//          than 1 KiB in N ms has stalled; the shipped run uses 60 s),
//          --deadline-ms N (give up waiting after N ms: prints "hung", exit code 4), --progress,
//          --stop-after-ms N (release the downloads after N ms, as an owner that gives up does, and print
//          "stopped <i> <ms the release took>"; the state files stay for a resume).
//
// Output, one line each: "started <i>", "progress <i> <bytesDone> <downloadSize> <streamCount>" (with
// --progress, on change), "finished <i> <downloadSize>", "failed <i> <description on one line>",
// "hung <i>", "callbacks <i> <calls> <failed calls>" (the owner's callback, per download), then "peak-memory
// <peak working set bytes>", "elapsed-ms <ms>" and "done <finished> <failed>". Exit code: 0 all finished, 1
// any failed, 2 bad arguments, 3 the engine could not be created, 4 hung.
#include "System/Exception.h"
#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/String/AnsiWide.h"
#include "Updater/Service/Version.h"
#include "ToolArgs.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using OV::System::CException;
using OV::System::CRefPtr;
using OV::System::Net::MultiStreamDownload::CHTTPDownload;
using OV::System::Net::MultiStreamDownload::DownloadLimits;
using OV::System::Net::MultiStreamDownload::DownloadStatus;

using OV::Tools::PrintLine;

namespace
{

constexpr DWORD kPollMs = 50;

// What the engine's callback delivered to one download's owner.
struct CallbackCounts
{
    std::atomic<unsigned> calls{0};
    std::atomic<unsigned> failedCalls{0};
};

void CountCallback(const DownloadStatus& status, void* context)
{
    auto* counts = static_cast<CallbackCounts*>(context);
    ++counts->calls;
    if (status.failed)
        ++counts->failedCalls;
}

struct Job
{
    std::unique_ptr<CallbackCounts> callbacks = std::make_unique<CallbackCounts>();
    std::wstring url;
    std::wstring target;
    CRefPtr<CHTTPDownload> download;
    bool started = false;
    bool ended = false;
    std::uint32_t lastBytes = 0xFFFFFFFFu;
};

struct Options
{
    std::vector<Job> jobs;
    int retries = 5;
    DownloadLimits limits;
    ULONGLONG deadlineMs = 0;
    size_t parallel = 1;
    bool progress = false;
    ULONGLONG stopAfterMs = 0;
};

std::string OneLine(const std::wstring& text)
{
    std::string line = OV::Utf16ToUtf8(text);
    std::string result;
    for (size_t i = 0; i < line.size(); ++i)
    {
        if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
        {
            result += " | ";
            ++i;
        }
        else if (line[i] == '\r' || line[i] == '\n' || line[i] == '\t')
        {
            result += ' ';
        }
        else
        {
            result += line[i];
        }
    }
    return result;
}

bool ReadBatch(const std::wstring& path, std::vector<Job>& jobs)
{
    std::ifstream file(path.c_str());
    if (!file)
        return false;
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        Job job;
        job.url = OV::Utf8ToUtf16(line.substr(0, tab));
        job.target = OV::Utf8ToUtf16(line.substr(tab + 1));
        jobs.push_back(std::move(job));
    }
    return true;
}

bool ParseArguments(const OV::Tools::CArguments& arguments, Options& options)
{
    if (!arguments.IsValid() ||
        (arguments.Has(L"--batch") && !ReadBatch(arguments.Text(L"--batch"), options.jobs)))
        return false;
    if (arguments.Has(L"--url") && arguments.Has(L"--target"))
    {
        Job job;
        job.url = arguments.Text(L"--url");
        job.target = arguments.Text(L"--target");
        options.jobs.push_back(std::move(job));
    }
    options.retries = static_cast<int>(arguments.Number(L"--retries", 5));
    options.limits.receiveTimeoutMs =
        static_cast<std::uint32_t>(arguments.Number(L"--timeout-ms", options.limits.receiveTimeoutMs));
    options.limits.maxSize =
        static_cast<std::uint32_t>(arguments.Number(L"--max-size", options.limits.maxSize));
    options.limits.stallWindowMs =
        static_cast<std::uint32_t>(arguments.Number(L"--stall-window-ms", options.limits.stallWindowMs));
    options.deadlineMs = static_cast<ULONGLONG>(arguments.Number(L"--deadline-ms", 0));
    options.parallel = std::max<size_t>(1, static_cast<size_t>(arguments.Number(L"--parallel", 1)));
    options.stopAfterMs = static_cast<ULONGLONG>(arguments.Number(L"--stop-after-ms", 0));
    options.progress = arguments.Has(L"--progress");
    return !options.jobs.empty();
}

// Polls one running job; true once it ended (and was reported).
bool Poll(Job& job, size_t index, const Options& options, size_t& finished, size_t& failed)
{
    const DownloadStatus status = job.download->GetStatus();
    const std::string id = std::to_string(index);
    if (status.finished)
    {
        PrintLine("finished " + id + " " + std::to_string(status.downloadSize));
        ++finished;
        return true;
    }
    if (status.failed)
    {
        const std::wstring text = status.exception ? status.exception->GetDescription() : L"(no exception)";
        PrintLine("failed " + id + " " + OneLine(text));
        ++failed;
        return true;
    }
    if (options.progress && status.bytesDone != job.lastBytes)
    {
        job.lastBytes = status.bytesDone;
        PrintLine("progress " + id + " " + std::to_string(status.bytesDone) + " " +
                  std::to_string(status.downloadSize) + " " + std::to_string(status.streamCount));
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseArguments(OV::Tools::CArguments(argc, argv, {L"--progress"}), options))
    {
        PrintLine("usage: DownloadDriver --url URL --target PATH | --batch LIST [--parallel N] [--retries N] "
                  "[--timeout-ms N] [--max-size N] [--stall-window-ms N] [--deadline-ms N] [--progress]");
        return 2;
    }

    const ULONGLONG start = ::GetTickCount64();
    size_t finished = 0;
    size_t failed = 0;
    size_t next = 0;
    size_t running = 0;
    bool hung = false;
    while (finished + failed < options.jobs.size())
    {
        while (running < options.parallel && next < options.jobs.size())
        {
            Job& job = options.jobs[next];
            try
            {
                job.download = CRefPtr<CHTTPDownload>(
                    new CHTTPDownload(OV::Updater::Service::kDownloadUserAgentW, job.url, job.target,
                                      &CountCallback, job.callbacks.get(), options.retries, options.limits));
            }
            catch (const CException& e)
            {
                PrintLine("failed " + std::to_string(next) + " " + OneLine(e.GetDescription()));
                return 3;
            }
            job.started = true;
            PrintLine("started " + std::to_string(next));
            ++next;
            ++running;
        }
        for (size_t i = 0; i < options.jobs.size(); ++i)
        {
            Job& job = options.jobs[i];
            if (!job.started || job.ended)
                continue;
            if (Poll(job, i, options, finished, failed))
            {
                job.ended = true;
                job.download.Reset(); // joins its threads; a failed one deletes its files
                PrintLine("callbacks " + std::to_string(i) + " " +
                          std::to_string(job.callbacks->calls.load()) + " " +
                          std::to_string(job.callbacks->failedCalls.load()));
                --running;
            }
        }
        if (options.stopAfterMs != 0 && ::GetTickCount64() - start > options.stopAfterMs)
        {
            for (size_t i = 0; i < options.jobs.size(); ++i)
            {
                Job& job = options.jobs[i];
                if (!job.started || job.ended)
                    continue;
                const ULONGLONG releasing = ::GetTickCount64();
                job.download.Reset(); // stops and joins its threads
                PrintLine("stopped " + std::to_string(i) + " " +
                          std::to_string(::GetTickCount64() - releasing));
                job.ended = true;
                ++failed;
            }
            break;
        }
        if (options.deadlineMs != 0 && ::GetTickCount64() - start > options.deadlineMs)
        {
            for (size_t i = 0; i < options.jobs.size(); ++i)
                if (options.jobs[i].started && !options.jobs[i].ended)
                    PrintLine("hung " + std::to_string(i));
            hung = true;
            break;
        }
        ::Sleep(kPollMs);
    }

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)))
        PrintLine("peak-memory " + std::to_string(counters.PeakWorkingSetSize));
    PrintLine("elapsed-ms " + std::to_string(::GetTickCount64() - start));
    PrintLine("done " + std::to_string(finished) + " " + std::to_string(failed));
    if (hung)
    {
        // Leave without joining the threads that did not end: the test wants the verdict, not a wait.
        std::fflush(stdout);
        ::ExitProcess(4);
    }
    return failed == 0 ? 0 : 1;
}
