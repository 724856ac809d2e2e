#include "System/Exception.h"
#include "System/RefPtr.h"
#include "System/Win32/Thread.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

using OV::System::CException;
using OV::System::CRefPtr;
using OV::System::MakeRef;
using OV::System::Win32::CThread;
using OV::System::Win32::ThreadState;
using OV::Tests::CatchException;
using OV::Tests::CFunctionThread;

namespace
{

constexpr DWORD kBoundMs = 20000;

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

// Its body uses only what the base class owns, so the base destructor alone may stop it once the body runs.
class CStopWatchingThread : public CThread
{
public:
    static std::atomic<int> s_Entered;

protected:
    std::uint32_t Execute() override
    {
        ++s_Entered;
        WaitForStopSignal(INFINITE);
        return 0;
    }
};

std::atomic<int> CStopWatchingThread::s_Entered{0};

} // namespace

TEST(Thread, RunsUntilACooperativeStopAndCannotStartTwice)
{
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(RunUntilStopped);
    EXPECT_EQ(ThreadState::NotStarted, thread->Stop(0));
    thread->ThreadStart();
    EXPECT_EQ(ThreadState::Running, thread->GetState());

    const auto failure = CatchException([&] { thread->ThreadStart(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Thread already started", failure->GetMessageText());
    EXPECT_EQ(ThreadState::Running, thread->GetState());

    EXPECT_EQ(ThreadState::Running, thread->Stop(kBoundMs));
    EXPECT_EQ(ThreadState::Finished, thread->GetState());
    EXPECT_EQ(7u, thread->GetExitCode());
    EXPECT_EQ(0u, SystemExitCode(*thread)); // it returned, it was not terminated
    EXPECT_EQ(nullptr, thread->GetException().Get());
}

TEST(Thread, BodyFailureIsStoredForTheOwnerWithItsText)
{
    const struct
    {
        std::function<void()> raise;
        std::wstring message;
        std::wstring inner; // empty: none
    } cases[] = {
        {[] { throw std::runtime_error("disk full"); },
         L"disk full\r\n(std::exception) Thread Execute Function", L""},
        {[] { throw CException("Ov\\Body.cpp", 12, "Body::Run", std::string_view("inner failure")); },
         L"Thread Execute Function", L"inner failure"},
        {[] { throw 42; }, L"(unknown thread exception) Thread Execute Function", L""},
    };
    for (const auto& item : cases)
    {
        SCOPED_TRACE(std::string(item.message.begin(), item.message.end()));
        CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
            [&](CFunctionThread&) -> std::uint32_t
            {
                item.raise();
                return 9;
            });
        thread->ThreadStart();
        EXPECT_EQ(ThreadState::Running, thread->WaitForExit());
        EXPECT_EQ(ThreadState::Finished, thread->GetState());
        const CRefPtr<CException> stored = thread->GetException();
        ASSERT_TRUE(stored);
        EXPECT_EQ(item.message, stored->GetMessageText());
        EXPECT_EQ(item.inner, stored->GetInner() ? stored->GetInner()->GetMessageText() : L"");
    }
}

TEST(Thread, ReleasingARunningThreadStopsIt)
{
    const auto runRound = []
    {
        const int entered = CStopWatchingThread::s_Entered.load();
        CRefPtr<CStopWatchingThread> thread = MakeRef<CStopWatchingThread>();
        thread->ThreadStart();
        for (int i = 0; i < 2000 && CStopWatchingThread::s_Entered.load() == entered; ++i)
            ::Sleep(5);
        ASSERT_EQ(entered + 1, CStopWatchingThread::s_Entered.load());
    }; // the last reference goes here: the destructor stops the thread and waits for it
    for (int round = 0; round < 3; ++round)
        runRound();
}
