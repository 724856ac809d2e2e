#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/RefPtr.h"
#include "System/String/AnsiWide.h"
#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <thread>

using OV::System::CRefPtr;
using OV::System::MakeRef;
using OV::System::Net::MultiStreamDownload::CHTTPDownload;
using OV::System::Net::MultiStreamDownload::DownloadStatus;
using OV::Tests::CTemporaryFolder;

namespace
{

constexpr wchar_t kUserAgent[] = L"Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93; CDA 6.0)";

struct CallbackLog
{
    std::atomic<int> calls{0};
    std::atomic<int> failedCalls{0};
    std::atomic<int> finishedCalls{0};
};

void Record(const DownloadStatus& status, void* context)
{
    auto* log = static_cast<CallbackLog*>(context);
    ++log->calls;
    if (status.failed)
        ++log->failedCalls;
    if (status.finished)
        ++log->finishedCalls;
}

// Polls like the update run does, with a bound.
DownloadStatus WaitForEnd(CHTTPDownload& download, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;)
    {
        const DownloadStatus status = download.GetStatus();
        if (status.finished || status.failed || std::chrono::steady_clock::now() > deadline)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<std::wstring> Listing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

} // namespace

TEST(HTTPDownload, ExistingTargetIsFinishedAtOnceWithoutStartingAnything)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    OV::Tests::WriteFileBytes(target, "complete");
    CallbackLog log;
    // Port 9 refuses: any request would fail the download instead.
    auto download =
        MakeRef<CHTTPDownload>(kUserAgent, L"http://127.0.0.1:9/setup.exe", target, &Record, &log, 5);
    const DownloadStatus status = download->GetStatus();
    EXPECT_TRUE(status.finished);
    EXPECT_FALSE(status.failed);
    EXPECT_FALSE(status.startPending);
    EXPECT_EQ(0u, status.bytesDone);
    EXPECT_EQ(1, log.finishedCalls.load());
    download.Reset();
    EXPECT_EQ(std::vector<std::wstring>{L"setup.exe"}, Listing(folder.Path()));
}

TEST(HTTPDownload, FailureOfItsOnlyStreamFailsTheDownloadOnceAndLeavesNothingBehind)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    CallbackLog log;
    auto download =
        MakeRef<CHTTPDownload>(kUserAgent, L"http://127.0.0.1:9/setup.exe", target, &Record, &log, 0);
    const DownloadStatus status = WaitForEnd(*download, std::chrono::seconds(30));
    ASSERT_TRUE(status.failed);
    EXPECT_FALSE(status.finished);
    EXPECT_EQ(0u, status.bytesDone);
    EXPECT_EQ(0.0f, status.percent);
    ASSERT_TRUE(status.exception);
    // HTTPDownloadThreadCallback -> Download Thread Error -> DownloadThread Execute Function -> the cause.
    const OV::System::CException* level = status.exception.Get();
    for (const wchar_t* text : {L"HTTPDownloadThreadCallback", L"Download Thread Error",
                                L"DownloadThread Execute Function", L"HttpSendRequestA failed."})
    {
        ASSERT_NE(nullptr, level) << OV::WideToAnsi(status.exception->GetDescription());
        EXPECT_EQ(text, level->GetMessageText());
        level = level->GetInner();
    }
    EXPECT_EQ(1, log.failedCalls.load());
    download.Reset();
    EXPECT_EQ(1, log.failedCalls.load());
    EXPECT_TRUE(Listing(folder.Path()).empty());
}

TEST(HTTPDownload, ReleasingARunningDownloadEndsItsThreadsAndKeepsItsStateForAResume)
{
    CTemporaryFolder folder;
    const std::wstring target = folder.File(L"setup.exe");
    // A refused port with retries: the stream sits in its retry pauses when the owner lets go.
    auto download =
        MakeRef<CHTTPDownload>(kUserAgent, L"http://127.0.0.1:9/setup.exe", target, nullptr, nullptr, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(download->GetStatus().failed);
    const auto start = std::chrono::steady_clock::now();
    download.Reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(OV::System::FileExists(target + L".downloadstate"));
    EXPECT_FALSE(OV::System::FileExists(target));
}
