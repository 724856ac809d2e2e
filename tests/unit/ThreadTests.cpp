#include "CatchException.h"
#include "FunctionThread.h"
#include "HandleCount.h"

#include "System/Exception.h"
#include "System/RefPtr.h"
#include "System/Stopwatch.h"
#include "System/Win32/Thread.h"
#include "System/Win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using OV::System::CException;
using OV::System::CRefPtr;
using OV::System::CStopwatch;
using OV::System::MakeRef;
using OV::System::Win32::CThread;
using OV::System::Win32::ThreadState;
using OV::Tests::CatchException;
using OV::Tests::CFunctionThread;
using OV::Tests::CountOpenHandles;

namespace
{

constexpr DWORD kBoundMs = 20000;
constexpr char kThreadSource[] = "Ov\\System\\Win32\\Thread.cpp";
constexpr char kThreadProc[] = "OV::System::Win32::CThread::StaticThreadProc";

std::uint32_t RunUntilStopped(CFunctionThread& thread)
{
    while (!thread.WaitForStopSignal(5))
    {
    }
    return 7;
}

DWORD SystemExitCode(const CThread& thread)
{
    DWORD code = 0;
    ::GetExitCodeThread(thread.GetHandle(), &code);
    return code;
}

// Polls until condition holds or kBoundMs have passed.
bool WaitUntil(const std::function<bool()>& condition)
{
    CStopwatch watch;
    watch.Start();
    while (!condition())
    {
        if (watch.GetElapsedMs() >= kBoundMs)
            return false;
        ::Sleep(2);
    }
    return true;
}

// What a debugger would see of the thread-naming exception.
struct NamingRaise
{
    int count = 0;
    ULONG_PTR type = 0;
    std::string name;
    ULONG_PTR threadId = 0;
    ULONG_PTR flags = 0;
};
NamingRaise g_NamingRaise;

// Stands in for a debugger: it looks first, then lets the thread code's own handler swallow the raise.
LONG CALLBACK WatchNamingRaise(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == 0x406D1388 && record.NumberParameters == 4)
    {
        ++g_NamingRaise.count;
        g_NamingRaise.type = record.ExceptionInformation[0];
        g_NamingRaise.name = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        g_NamingRaise.threadId = record.ExceptionInformation[2];
        g_NamingRaise.flags = record.ExceptionInformation[3];
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

using CVectoredHandler = OV::System::Win32::CUniqueAny<PVOID, &::RemoveVectoredExceptionHandler>;

// Its body uses only what the base class owns, so the base destructor alone may stop it once the body runs.
// (Before that, the derived object must still exist: the new thread calls Execute through it.)
class CStopWatchingThread : public CThread
{
public:
    static std::atomic<int> s_Entered;
    static std::atomic<int> s_Stopped;

protected:
    std::uint32_t Execute() override
    {
        ++s_Entered;
        WaitForStopSignal(INFINITE);
        ++s_Stopped;
        return 0;
    }
};

std::atomic<int> CStopWatchingThread::s_Entered{0};
std::atomic<int> CStopWatchingThread::s_Stopped{0};

} // namespace

TEST(ThreadStart, ReturnsWithTheThreadRunning)
{
    std::atomic<DWORD> bodyThreadId{0};
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
        [&](CFunctionThread& self)
        {
            bodyThreadId = ::GetCurrentThreadId();
            return RunUntilStopped(self);
        });
    EXPECT_EQ(ThreadState::NotStarted, thread->GetState());
    EXPECT_EQ(nullptr, thread->GetHandle());

    thread->ThreadStart();
    EXPECT_EQ(ThreadState::Running, thread->GetState());
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), SystemExitCode(*thread));
    EXPECT_FALSE(thread->IsStopSignalled());
    ASSERT_TRUE(WaitUntil([&] { return bodyThreadId != 0; }));
    EXPECT_EQ(thread->GetThreadId(), bodyThreadId.load());
    EXPECT_EQ(0u, thread->GetExitCode()); // Execute has not returned yet
}

TEST(ThreadStart, SecondStartThrowsAndLeavesTheThreadRunning)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(RunUntilStopped);
    thread->ThreadStart();
    const HANDLE handle = thread->GetHandle();

    const auto failure = CatchException([&] { thread->ThreadStart(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Thread already started", failure->GetMessageText());
    EXPECT_EQ("OV::System::Win32::CThread::ThreadStart", failure->GetFunction());
    EXPECT_EQ(kThreadSource, failure->GetSourceFile());

    EXPECT_EQ(handle, thread->GetHandle());
    EXPECT_EQ(ThreadState::Running, thread->GetState());
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), SystemExitCode(*thread));
    EXPECT_EQ(ThreadState::Running, thread->Stop(kBoundMs));
    EXPECT_EQ(7u, thread->GetExitCode());
}

TEST(ThreadStart, NamesTheThreadForDebuggersAndSurvivesWithoutOne)
{
    g_NamingRaise = NamingRaise();
    CVectoredHandler watcher(::AddVectoredExceptionHandler(1, &WatchNamingRaise));
    ASSERT_TRUE(watcher);

    CRefPtr<CFunctionThread> unnamed = MakeRef<CFunctionThread>(RunUntilStopped);
    unnamed->ThreadStart("", 0);
    EXPECT_EQ(0, g_NamingRaise.count);

    const char name[] = "OVDownloadWatchdog and more";
    CRefPtr<CFunctionThread> named = MakeRef<CFunctionThread>(RunUntilStopped);
    named->ThreadStart(name, 18);
    watcher.Reset();

    EXPECT_EQ(1, g_NamingRaise.count);
    EXPECT_EQ(0x1000u, g_NamingRaise.type);
    EXPECT_EQ("OVDownloadWatchdog", g_NamingRaise.name);
    EXPECT_EQ(named->GetThreadId(), g_NamingRaise.threadId);
    EXPECT_EQ(0u, g_NamingRaise.flags);
    EXPECT_EQ(ThreadState::Running, named->GetState());
}

TEST(ThreadStop, CooperativeStopEndsTheBodyNormally)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(RunUntilStopped);
    thread->ThreadStart();
    EXPECT_EQ(ThreadState::Running, thread->Stop(kBoundMs));
    EXPECT_EQ(ThreadState::Finished, thread->GetState());
    EXPECT_EQ(7u, thread->GetExitCode());
    EXPECT_EQ(0u, SystemExitCode(*thread));
    EXPECT_TRUE(thread->IsStopSignalled()); // the stop event is never reset
    EXPECT_EQ(nullptr, thread->GetException().Get());
}

TEST(ThreadStop, ZeroTimeoutTerminatesABodyThatIgnoresTheStopSignal)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
        [](CFunctionThread&) -> std::uint32_t
        {
            for (;;)
                ::Sleep(10);
        });
    thread->ThreadStart();
    EXPECT_EQ(ThreadState::Running, thread->Stop(0));
    EXPECT_EQ(ThreadState::Finished, thread->GetState());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread->GetHandle(), kBoundMs));
    EXPECT_EQ(1u, SystemExitCode(*thread));
    EXPECT_EQ(0u, thread->GetExitCode());
    EXPECT_EQ(ThreadState::Finished, thread->Stop(0));
}

TEST(ThreadStop, DoesNothingOnAThreadThatFinishedOrNeverStarted)
{
    CRefPtr<CFunctionThread> notStarted = MakeRef<CFunctionThread>(RunUntilStopped);
    EXPECT_EQ(ThreadState::NotStarted, notStarted->Stop(0));
    EXPECT_EQ(ThreadState::NotStarted, notStarted->WaitForExit());
    EXPECT_FALSE(notStarted->IsStopSignalled());

    CRefPtr<CFunctionThread> finished =
        MakeRef<CFunctionThread>([](CFunctionThread&) -> std::uint32_t { return 3; });
    finished->ThreadStart();
    ASSERT_TRUE(WaitUntil([&] { return finished->GetState() == ThreadState::Finished; }));
    EXPECT_EQ(ThreadState::Finished, finished->Stop(0));
    EXPECT_FALSE(finished->IsStopSignalled());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(finished->GetHandle(), kBoundMs));
    EXPECT_EQ(0u, SystemExitCode(*finished)); // ended by itself, not terminated
    EXPECT_EQ(3u, finished->GetExitCode());
}

TEST(ThreadStop, WaitForExitWaitsForTheBodyToReturn)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
        [](CFunctionThread&) -> std::uint32_t
        {
            ::Sleep(100);
            return 5;
        });
    thread->ThreadStart();
    EXPECT_EQ(ThreadState::Running, thread->WaitForExit());
    EXPECT_EQ(ThreadState::Finished, thread->GetState());
    EXPECT_EQ(5u, thread->GetExitCode());
}

TEST(ThreadStop, WaitForStopSignalSleepsUntilTimeoutOrStop)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(RunUntilStopped);
    CStopwatch watch;
    watch.Start();
    EXPECT_FALSE(thread->WaitForStopSignal(200));
    EXPECT_GE(watch.GetElapsedMs(), 150u);
    thread->SignalStop();
    EXPECT_TRUE(thread->IsStopSignalled());
    watch.Reset();
    watch.Start();
    EXPECT_TRUE(thread->WaitForStopSignal(kBoundMs));
    EXPECT_LT(watch.GetElapsedMs(), 5000u);
}

namespace
{

struct ThrowingBodyCase
{
    const char* label;
    std::function<void()> raise;
    std::wstring expectedMessage;
    std::wstring expectedInnerMessage; // empty: no inner exception
};

} // namespace

TEST(ThreadException, BodyFailureIsStoredForTheOwnerWithItsText)
{
    const std::vector<ThrowingBodyCase> cases = {
        {"std::exception", [] { throw std::runtime_error("disk full"); },
         L"disk full\r\n(std::exception) Thread Execute Function", L""},
        {"CException",
         [] { throw CException("Ov\\Body.cpp", 12, "Body::Run", std::string_view("inner failure")); },
         L"Thread Execute Function", L"inner failure"},
        {"anything else", [] { throw 42; }, L"(unknown thread exception) Thread Execute Function", L""},
    };
    for (const ThrowingBodyCase& item : cases)
    {
        SCOPED_TRACE(item.label);
        CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
            [&](CFunctionThread&) -> std::uint32_t
            {
                item.raise();
                return 9;
            });
        thread->ThreadStart();
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread->GetHandle(), kBoundMs));

        EXPECT_EQ(ThreadState::Finished, thread->GetState());
        EXPECT_EQ(0u, thread->GetExitCode()); // Execute never returned
        EXPECT_EQ(1u, SystemExitCode(*thread));
        const CRefPtr<CException> stored = thread->GetException();
        ASSERT_TRUE(stored);
        EXPECT_EQ(item.expectedMessage, stored->GetMessageText());
        EXPECT_EQ(kThreadProc, stored->GetFunction());
        EXPECT_EQ(kThreadSource, stored->GetSourceFile());
        if (item.expectedInnerMessage.empty())
        {
            EXPECT_EQ(nullptr, stored->GetInner());
        }
        else
        {
            ASSERT_NE(nullptr, stored->GetInner());
            EXPECT_EQ(item.expectedInnerMessage, stored->GetInner()->GetMessageText());
            EXPECT_EQ("Body::Run", stored->GetInner()->GetFunction());
            EXPECT_NE(std::wstring::npos,
                      stored->GetDescription().find(L"Inner Exception:  inner failure\r\n"));
        }
    }
}

TEST(ThreadException, OwnerCanReplaceOrClearTheStoredException)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(RunUntilStopped);
    EXPECT_EQ(nullptr, thread->GetException().Get());
    const CRefPtr<CException> exception =
        MakeRef<CException>("Ov\\Owner.cpp", 1, "Owner::Fn", std::string_view("set by owner"));
    thread->SetException(exception);
    EXPECT_EQ(exception.Get(), thread->GetException().Get());
    EXPECT_EQ(2, exception->GetReferenceCount());
    thread->SetException(nullptr);
    EXPECT_EQ(nullptr, thread->GetException().Get());
    EXPECT_EQ(1, exception->GetReferenceCount());
}

TEST(ThreadDestruction, ReleasingARunningThreadStopsItAndLeaksNoHandle)
{
    // One round first, so that anything created once per process (the log, the C run-time's thread data)
    // does not count against the rounds measured.
    const auto runRound = []
    {
        const int entered = CStopWatchingThread::s_Entered.load();
        CRefPtr<CStopWatchingThread> thread = MakeRef<CStopWatchingThread>();
        thread->ThreadStart();
        EXPECT_EQ(ThreadState::Running, thread->GetState());
        ASSERT_TRUE(WaitUntil([&] { return CStopWatchingThread::s_Entered.load() == entered + 1; }));
    }; // the last reference goes here: the destructor stops the thread and waits for it
    runRound();
    CStopWatchingThread::s_Stopped = 0;

    const DWORD before = CountOpenHandles();
    ASSERT_NE(0u, before);
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round)
    {
        runRound();
        EXPECT_EQ(round + 1, CStopWatchingThread::s_Stopped.load());
    }
    EXPECT_EQ(kRounds, CStopWatchingThread::s_Stopped.load());
    EXPECT_EQ(before, CountOpenHandles());
}
