#include "System/ErrorText.h"
#include "System/RefPtr.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/Event.h"
#include "System/Win32/Mutex.h"
#include "System/Win32/Synchronization.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::MakeRef;
using OV::System::Win32::CComInitScope;
using OV::System::Win32::CEvent;
using OV::System::Win32::CMutex;
using OV::System::Win32::CMutexLock;
using OV::System::Win32::CSynchronizationObject;
using OV::Tests::CatchException;
using OV::Tests::CFunctionThread;
using OV::Tests::UniqueObjectName;

namespace
{

constexpr DWORD kBoundMs = 20000;

// The result of a wait on mutex from a thread of its own, which cannot own what this thread owns.
DWORD WaitFromAnotherThread(CMutex& mutex)
{
    DWORD result = 0;
    auto thread = MakeRef<CFunctionThread>(
        [&](CFunctionThread&) -> std::uint32_t
        {
            result = mutex.CSynchronizationObject::Wait(0);
            if (result == WAIT_OBJECT_0)
                mutex.ReleaseMutex();
            return 0;
        });
    thread->ThreadStart();
    thread->WaitForExit();
    return result;
}

} // namespace

TEST(Event, FirstArgumentIsTheInitialStateSecondTheResetModeAndANameIsShared)
{
    CEvent autoReset(true, false);
    EXPECT_EQ(WAIT_OBJECT_0, autoReset.Wait(0));
    EXPECT_EQ(WAIT_TIMEOUT, autoReset.Wait(0)); // the first wait consumed it

    const std::wstring name = UniqueObjectName(L"event");
    CEvent manualReset(false, true, name);
    EXPECT_EQ(WAIT_TIMEOUT, manualReset.Wait(0));
    CEvent(false, true, name).Set();
    EXPECT_EQ(WAIT_OBJECT_0, manualReset.Wait(0));
    EXPECT_EQ(WAIT_OBJECT_0, manualReset.Wait(0));
    EXPECT_EQ(WAIT_OBJECT_0 + 1,
              CSynchronizationObject::WaitForMultiple({&autoReset, &manualReset}, 0, false));
    EXPECT_EQ(WAIT_TIMEOUT, CSynchronizationObject::WaitForMultiple({&autoReset, &manualReset}, 0, true));
}

TEST(Event, NameTakenByAnotherKindOfObjectFailsWithTheNameAndErrorText)
{
    const std::wstring mutexName = UniqueObjectName(L"taken");
    CMutex mutex(mutexName);
    const auto eventFailure = CatchException([&] { CEvent event(false, true, mutexName); });
    ASSERT_TRUE(eventFailure);
    EXPECT_EQ(L"Failed to create event: " + mutexName + L"  " +
                  OV::System::GetErrorTextW(ERROR_INVALID_HANDLE),
              eventFailure->GetMessageText());

    const std::wstring eventName = UniqueObjectName(L"event-first");
    CEvent event(false, true, eventName);
    const auto mutexFailure = CatchException([&] { CMutex other(eventName); });
    ASSERT_TRUE(mutexFailure);
    EXPECT_EQ(L"CreateMutex failed with " + OV::System::GetErrorTextW(ERROR_INVALID_HANDLE),
              mutexFailure->GetMessageText());
}

TEST(Mutex, LockKeepsOthersOutUntilItEndsAndAReleaseNotOwnedThrows)
{
    CMutex mutex(UniqueObjectName(L"locked"));
    {
        CMutexLock lock(mutex, kBoundMs);
        EXPECT_EQ(WAIT_TIMEOUT, WaitFromAnotherThread(mutex));
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitFromAnotherThread(mutex));
    const auto failure = CatchException([&] { mutex.ReleaseMutex(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(L"Failed to release mutex:" + OV::System::GetErrorTextW(ERROR_NOT_OWNER),
              failure->GetMessageText());
}

TEST(Mutex, AbandonedMutexThrowsFromMutexWaitButNotFromTheBaseWait)
{
    const std::wstring name = UniqueObjectName(L"abandoned");
    CMutex mutex(name); // keeps the mutex alive after the helper that abandons it has gone
    for (int round = 0; round < 2; ++round)
    {
        OV::Tests::CHelperProcess helper(L"abandon-mutex " + name);
        ASSERT_TRUE(helper.WaitForExit(kBoundMs));
        ASSERT_EQ(0u, helper.GetExitCode());
        if (round == 0)
        {
            const auto failure = CatchException([&] { mutex.Wait(kBoundMs); });
            ASSERT_TRUE(failure);
            EXPECT_EQ(0u, failure->GetMessageText().rfind(L"Wait Failed:", 0));
            // The failed wait did not keep the mutex.
            EXPECT_EQ(WAIT_OBJECT_0, WaitFromAnotherThread(mutex));
        }
    }
    EXPECT_EQ(WAIT_ABANDONED, mutex.CSynchronizationObject::Wait(kBoundMs));
    mutex.ReleaseMutex();
}

TEST(ComInitScope, UninitialisesOnlyWhatItInitialised)
{
    HRESULT results[5] = {E_FAIL, E_FAIL, E_FAIL, S_OK, E_FAIL};
    auto thread = MakeRef<CFunctionThread>(
        [&](CFunctionThread&) -> std::uint32_t
        {
            {
                CComInitScope first;
                results[0] = first.GetResult();
                CComInitScope second;
                results[1] = second.GetResult();
            }
            // Both scopes balanced their calls: COM is off again, so this is a first initialisation.
            results[2] = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                CComInitScope apartment; // asks for another threading model and fails
                results[3] = apartment.GetResult();
            }
            // The failed scope did not uninitialise the multithreaded COM of this thread.
            results[4] = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ::CoUninitialize();
            ::CoUninitialize();
            return 0;
        });
    thread->ThreadStart();
    thread->WaitForExit();
    EXPECT_EQ(S_OK, results[0]);
    EXPECT_EQ(S_FALSE, results[1]);
    EXPECT_EQ(S_OK, results[2]);
    EXPECT_EQ(RPC_E_CHANGED_MODE, results[3]);
    EXPECT_EQ(S_FALSE, results[4]);
}
