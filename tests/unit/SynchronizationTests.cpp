#include "CatchException.h"
#include "FunctionThread.h"
#include "HandleCount.h"
#include "HelperProcess.h"

#include "System/ErrorText.h"
#include "System/RefPtr.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/Event.h"
#include "System/Win32/Mutex.h"
#include "System/Win32/Synchronization.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using OV::System::CRefPtr;
using OV::System::MakeRef;
using OV::System::Win32::CComInitScope;
using OV::System::Win32::CCriticalSection;
using OV::System::Win32::CCriticalSectionLock;
using OV::System::Win32::CEvent;
using OV::System::Win32::CMutex;
using OV::System::Win32::CMutexLock;
using OV::System::Win32::CSynchronizationObject;
using OV::Tests::CatchException;
using OV::Tests::CFunctionThread;
using OV::Tests::CHelperProcess;
using OV::Tests::CountOpenHandles;
using OV::Tests::UniqueObjectName;

namespace
{

constexpr DWORD kProcessTimeoutMs = 20000;

} // namespace

TEST(Event, FirstArgumentIsTheInitialStateSecondTheResetMode)
{
    CEvent signalledAutoReset(true, false);
    EXPECT_EQ(WAIT_OBJECT_0, signalledAutoReset.Wait(0));
    EXPECT_EQ(WAIT_TIMEOUT, signalledAutoReset.Wait(0)); // the first wait consumed it

    CEvent manualReset(false, true);
    EXPECT_EQ(WAIT_TIMEOUT, manualReset.Wait(0));
    manualReset.Set();
    EXPECT_EQ(WAIT_OBJECT_0, manualReset.Wait(0));
    EXPECT_EQ(WAIT_OBJECT_0, manualReset.Wait(0));
    manualReset.Reset();
    EXPECT_EQ(WAIT_TIMEOUT, manualReset.Wait(0));
}

TEST(Event, SameNameOpensTheSameEvent)
{
    const std::wstring name = UniqueObjectName(L"event");
    CEvent first(false, true, name);
    CEvent second(false, true, name);
    second.Set();
    EXPECT_EQ(WAIT_OBJECT_0, first.Wait(0));
}

TEST(Event, NameTakenByAMutexFailsWithTheNameAndErrorText)
{
    const std::wstring name = UniqueObjectName(L"taken");
    CMutex mutex(name);
    const auto failure = CatchException([&] { CEvent event(false, true, name); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Failed to create event: " + name + L"  " + OV::System::GetErrorTextW(ERROR_INVALID_HANDLE),
              failure->GetMessageText());
    EXPECT_EQ("OV::System::Win32::CEvent::CEvent", failure->GetFunction());
    EXPECT_EQ("Ov\\System\\Win32\\Event.cpp", failure->GetSourceFile());
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_INVALID_HANDLE), failure->GetLastErrorCode());
}

TEST(Event, NamedEventIsSetByAnotherProcess)
{
    const std::wstring name = UniqueObjectName(L"set-by-helper");
    CEvent event(false, true, name);
    CHelperProcess helper(L"set-event " + name);
    EXPECT_EQ(WAIT_OBJECT_0, event.Wait(kProcessTimeoutMs));
    ASSERT_TRUE(helper.WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(0u, helper.GetExitCode());
}

TEST(Event, AnotherProcessSeesOurSetOrTimesOut)
{
    const std::wstring name = UniqueObjectName(L"seen-by-helper");
    CEvent event(false, true, name);

    CHelperProcess timesOut(L"wait-event " + name + L" 100");
    ASSERT_TRUE(timesOut.WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(2u, timesOut.GetExitCode());

    CHelperProcess waiter(L"wait-event " + name + L" " + std::to_wstring(kProcessTimeoutMs));
    event.Set();
    ASSERT_TRUE(waiter.WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(0u, waiter.GetExitCode());
}

TEST(SynchronizationObject, WaitForMultipleReturnsIndexOrTimeoutWithoutThrowing)
{
    CEvent first(false, true);
    CEvent second(false, true);
    EXPECT_EQ(258u, CSynchronizationObject::WaitForMultiple({&first, &second}, 50, false));
    second.Set();
    EXPECT_EQ(WAIT_OBJECT_0 + 1, CSynchronizationObject::WaitForMultiple({&first, &second}, 50, false));
    EXPECT_EQ(WAIT_TIMEOUT, CSynchronizationObject::WaitForMultiple({&first, &second}, 50, true));
    first.Set();
    const std::vector<CSynchronizationObject*> both = {&first, &second};
    EXPECT_EQ(WAIT_OBJECT_0, CSynchronizationObject::WaitForMultiple(both, 50, true));
}

TEST(SynchronizationObject, LastCountedReferenceClosesTheHandle)
{
    const DWORD before = CountOpenHandles();
    ASSERT_NE(0u, before);
    {
        CRefPtr<CEvent> event = MakeRef<CEvent>(false, true);
        CRefPtr<CEvent> shared = event;
        EXPECT_EQ(2, event->GetReferenceCount());
        EXPECT_EQ(before + 1, CountOpenHandles());
        event.Reset();
        shared->Set(); // still alive through the second reference
        EXPECT_EQ(WAIT_OBJECT_0, shared->Wait(0));
    }
    EXPECT_EQ(before, CountOpenHandles());
}

TEST(Mutex, WaitThrowsWhileAnotherProcessHoldsIt)
{
    const std::wstring name = UniqueObjectName(L"held");
    const std::wstring ready = UniqueObjectName(L"held-ready");
    const std::wstring release = UniqueObjectName(L"held-release");
    CEvent readyEvent(false, true, ready);
    CEvent releaseEvent(false, true, release);
    CMutex mutex(name);

    CHelperProcess helper(L"hold-mutex " + name + L" " + std::to_wstring(kProcessTimeoutMs) + L" --ready " +
                          ready + L" --release " + release);
    ASSERT_EQ(WAIT_OBJECT_0, readyEvent.Wait(kProcessTimeoutMs));

    EXPECT_EQ(WAIT_TIMEOUT, mutex.CSynchronizationObject::Wait(0));
    const auto failure = CatchException([&] { mutex.Wait(0); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(0u, failure->GetMessageText().rfind(L"Wait Failed:", 0));
    EXPECT_GT(failure->GetMessageText().size(),
              std::wstring(L"Wait Failed:").size()); // an error text follows
    EXPECT_EQ("OV::System::Win32::CMutex::Wait", failure->GetFunction());
    EXPECT_EQ("Ov\\System\\Win32\\Mutex.cpp", failure->GetSourceFile());

    releaseEvent.Set();
    ASSERT_TRUE(helper.WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(0u, helper.GetExitCode());
    CMutexLock lock(mutex, kProcessTimeoutMs); // free again
}

TEST(Mutex, AbandonedMutexThrowsFromMutexWaitButNotFromTheBaseWait)
{
    const std::wstring name = UniqueObjectName(L"abandoned");
    // Our handle keeps the mutex alive after the helper that abandons it has gone.
    CMutex mutex(name);
    {
        CHelperProcess helper(L"abandon-mutex " + name);
        ASSERT_TRUE(helper.WaitForExit(kProcessTimeoutMs));
        ASSERT_EQ(0u, helper.GetExitCode());
    }
    const auto failure = CatchException([&] { mutex.Wait(kProcessTimeoutMs); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(0u, failure->GetMessageText().rfind(L"Wait Failed:", 0));
    EXPECT_EQ("OV::System::Win32::CMutex::Wait", failure->GetFunction());
    {
        // The failed wait did not keep the mutex: another process can take it.
        CHelperProcess helper(L"hold-mutex " + name + L" 0");
        ASSERT_TRUE(helper.WaitForExit(kProcessTimeoutMs));
        EXPECT_EQ(0u, helper.GetExitCode());
    }
    {
        CHelperProcess helper(L"abandon-mutex " + name);
        ASSERT_TRUE(helper.WaitForExit(kProcessTimeoutMs));
        ASSERT_EQ(0u, helper.GetExitCode());
    }
    EXPECT_EQ(WAIT_ABANDONED, mutex.CSynchronizationObject::Wait(kProcessTimeoutMs));
    mutex.ReleaseMutex();
}

TEST(Mutex, LockKeepsAnotherProcessOutUntilItEnds)
{
    const std::wstring name = UniqueObjectName(L"locked");
    CMutex mutex(name);
    std::unique_ptr<CHelperProcess> helper;
    {
        CMutexLock lock(mutex, INFINITE);
        helper = std::make_unique<CHelperProcess>(L"hold-mutex " + name + L" 0");
        EXPECT_FALSE(helper->WaitForExit(500)); // still waiting for the mutex
    }
    ASSERT_TRUE(helper->WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(0u, helper->GetExitCode());
}

TEST(Mutex, ReleasingAMutexNotOwnedThrows)
{
    CMutex mutex(UniqueObjectName(L"not-owned"));
    const auto failure = CatchException([&] { mutex.ReleaseMutex(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Failed to release mutex:" + OV::System::GetErrorTextW(ERROR_NOT_OWNER),
              failure->GetMessageText());
    EXPECT_EQ("OV::System::Win32::CMutex::ReleaseMutex", failure->GetFunction());
}

TEST(Mutex, NameTakenByAnEventFailsWithTheErrorText)
{
    const std::wstring name = UniqueObjectName(L"event-first");
    CEvent event(false, true, name);
    const auto failure = CatchException([&] { CMutex mutex(name); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"CreateMutex failed with " + OV::System::GetErrorTextW(ERROR_INVALID_HANDLE),
              failure->GetMessageText());
    EXPECT_EQ("OV::System::Win32::CMutex::CMutex", failure->GetFunction());
}

TEST(CriticalSection, SerialisesUpdatesFromTwoThreads)
{
    constexpr int kRounds = 200000;
    CCriticalSection section;
    long long counter = 0; // deliberately not atomic: only the lock keeps the sum whole
    const auto body = [&](CFunctionThread&) -> std::uint32_t
    {
        for (int i = 0; i < kRounds; ++i)
        {
            CCriticalSectionLock lock(section);
            counter = counter + 1;
        }
        return 0;
    };
    CRefPtr<CFunctionThread> first = MakeRef<CFunctionThread>(body);
    CRefPtr<CFunctionThread> second = MakeRef<CFunctionThread>(body);
    first->ThreadStart();
    second->ThreadStart();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(first->GetHandle(), kProcessTimeoutMs));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(second->GetHandle(), kProcessTimeoutMs));
    EXPECT_EQ(2LL * kRounds, counter);
}

TEST(ComInitScope, UninitialisesOnlyWhatItInitialised)
{
    HRESULT outer = E_FAIL;
    HRESULT nested = E_FAIL;
    HRESULT afterScopes = E_FAIL;
    HRESULT otherModel = S_OK;
    HRESULT stillMultithreaded = E_FAIL;
    CRefPtr<CFunctionThread> thread = MakeRef<CFunctionThread>(
        [&](CFunctionThread&) -> std::uint32_t
        {
            {
                CComInitScope first;
                outer = first.GetResult();
                CComInitScope second;
                nested = second.GetResult();
            }
            // Both scopes balanced their calls: COM is off again, so this is a first initialisation.
            afterScopes = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                CComInitScope apartment; // asks for another threading model and fails
                otherModel = apartment.GetResult();
            }
            // The failed scope did not uninitialise the multithreaded COM of this thread.
            stillMultithreaded = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ::CoUninitialize();
            ::CoUninitialize();
            return 0;
        });
    thread->ThreadStart();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread->GetHandle(), kProcessTimeoutMs));
    EXPECT_EQ(S_OK, outer);
    EXPECT_EQ(S_FALSE, nested);
    EXPECT_EQ(S_OK, afterScopes);
    EXPECT_EQ(RPC_E_CHANGED_MODE, otherModel);
    EXPECT_EQ(S_FALSE, stillMultithreaded);
}
