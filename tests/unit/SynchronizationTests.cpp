#include "System/ErrorText.h"
#include "System/RefPtr.h"
#include "System/Win32/Event.h"
#include "System/Win32/Mutex.h"
#include "System/Win32/Synchronization.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using OV::System::MakeRef;
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
