#pragma once

#include "System/Exception.h"
#include "System/RefPtr.h"
#include "System/Win32/Event.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace OV::System::Win32
{

enum class ThreadState : std::uint32_t
{
    NotStarted = 0,
    Running = 1,
    Finished = 2,
};

// Base of every worker thread. A derived class supplies Execute; the owner starts it once with
// ThreadStart and ends it with SignalStop/Stop; the body polls IsStopSignalled. Whatever the body throws
// is caught and kept for the owner (GetException). Held through CRefPtr; the owner must keep the last
// reference, and a derived class must end its thread before its own members go (the base destructor,
// which stops a running thread, runs last).
class CThread : public CReferenceCounted
{
public:
    ~CThread() override;

    // Starts the thread and returns once it runs. A non-empty name (length characters) is shown by
    // debuggers. Throws "Thread already started" on a second call.
    void ThreadStart(const char* name = nullptr, std::size_t length = 0);

    // Signals stop and waits up to timeout ms, then terminates the thread (exit code 1). Returns the state
    // before the call; does nothing unless the thread is running.
    ThreadState Stop(DWORD timeout);
    // Waits without limit for the thread to end. Returns the state before the call.
    ThreadState WaitForExit();

    void SignalStop();
    bool IsStopSignalled();
    // A sleep that a stop request cuts short: true when stop was signalled within timeout ms.
    bool WaitForStopSignal(DWORD timeout);

    CRefPtr<CException> GetException();
    void SetException(const CRefPtr<CException>& exception);

    // Called with the id of each started thread whose object goes. The log, which sits above threads,
    // sets one to drop its record of the thread; threads do not know the log.
    using EndObserver = void (*)(std::uint32_t threadId);
    static void SetEndObserver(EndObserver observer);

    ThreadState GetState() const { return m_State.load(); }
    // The result of Execute; 0 until it returns.
    std::uint32_t GetExitCode() const { return m_ExitCode.load(); }
    std::uint32_t GetThreadId() const { return m_ThreadId; }
    // Borrowed; null before the start.
    HANDLE GetHandle() const { return m_Handle.Get(); }

protected:
    CThread();

    virtual std::uint32_t Execute() = 0;

    // Borrowed, for a body that waits on other objects as well as on its stop signal; manual-reset.
    HANDLE GetStopEventHandle() const { return m_StopEvent.GetHandle(); }

private:
    static unsigned __stdcall StaticThreadProc(void* parameter);
    void NameForDebugger(const char* name, std::size_t length) const;

    CHandleHolder m_Handle;
    std::uint32_t m_ThreadId = 0;
    std::atomic<std::uint32_t> m_ExitCode{0};
    std::atomic<ThreadState> m_State{ThreadState::NotStarted};
    CEvent m_StartedEvent;
    CEvent m_StopEvent;
    CCriticalSection m_ExceptionLock; // guards m_Exception
    CRefPtr<CException> m_Exception;
};

} // namespace OV::System::Win32
