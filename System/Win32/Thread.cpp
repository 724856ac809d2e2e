#include "System/Win32/Thread.h"

#include "System/ErrorBoundary.h"
#include "System/Win32/UniqueHandle.h"

#include <process.h>

#include <cerrno>
#include <exception>
#include <string>

namespace OV::System::Win32
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Win32\\Thread.cpp";
constexpr char kBodyText[] = "Thread Execute Function";
constexpr char kUnknownText[] = "(unknown thread exception) Thread Execute Function";
constexpr DWORD kStartTimeoutMs = 5000;

// The exception code debuggers watch for to learn a thread's name.
constexpr DWORD kSetThreadNameCode = 0x406D1388;

std::atomic<CThread::EndObserver> g_EndObserver{nullptr};

using CVectoredHandler = CUniqueAny<PVOID, &::RemoveVectoredExceptionHandler>;

// Swallows the naming exception, which only a debugger wants: without one attached nothing else would
// handle it and the process would end. Any other exception is left to the handlers after us.
LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* pointers)
{
    if (pointers->ExceptionRecord->ExceptionCode == kSetThreadNameCode)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

CThread::CThread() : m_StartedEvent(false, true), m_StopEvent(false, true) {}

CThread::~CThread()
{
    try
    {
        if (m_State.load() == ThreadState::Running)
            Stop(INFINITE);
    }
    catch (...)
    {
        // Setting the stop event failed: nothing better to do in a destructor than to go on closing.
    }
    if (m_Handle)
    {
        if (const EndObserver observer = g_EndObserver.load())
        {
            try
            {
                observer(m_ThreadId);
            }
            catch (...)
            {
                // The observer's own failure is no reason not to go on closing.
            }
        }
        m_Handle.Reset();
    }
}

void CThread::ThreadStart(const char* name, std::size_t length)
{
    // Claiming the state before the thread exists keeps a fast body's Finished from being overwritten,
    // and makes a concurrent second start fail too.
    ThreadState expected = ThreadState::NotStarted;
    OV_THROW_IF(!m_State.compare_exchange_strong(expected, ThreadState::Running), "Thread already started");

    unsigned threadId = 0;
    m_Handle.Reset(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &CThread::StaticThreadProc, this, 0, &threadId)));
    if (!m_Handle)
    {
        const int error = errno;
        m_State.exchange(ThreadState::NotStarted);
        OV_THROW("_beginthreadex failure; errno = " + std::to_string(error));
    }
    m_ThreadId = threadId;

    OV_THROW_IF(m_StartedEvent.Wait(kStartTimeoutMs) == WAIT_TIMEOUT,
                "ThreadStart timeout waiting for m_StartedEvent");

    if (name != nullptr && length != 0)
        NameForDebugger(name, length);
}

void CThread::NameForDebugger(const char* name, std::size_t length) const
{
    const std::string terminated(name, length);
    // Added as the last vectored handler, so that any other one still sees the raise before it is swallowed
    // (an attached debugger sees it first in any case).
    CVectoredHandler handler(::AddVectoredExceptionHandler(0, &SwallowThreadNameException));
    if (!handler)
        return; // unnamed is better than a raise that nobody handles
    const ULONG_PTR arguments[4] = {0x1000, reinterpret_cast<ULONG_PTR>(terminated.c_str()), m_ThreadId, 0};
    ::RaiseException(kSetThreadNameCode, 0, 4, arguments);
}

unsigned __stdcall CThread::StaticThreadProc(void* parameter)
{
    CThread* const self = static_cast<CThread*>(parameter);
    unsigned systemExitCode = 0;
    try
    {
        self->m_StartedEvent.Set();
        self->m_ExitCode.store(self->Execute());
    }
    catch (const CException& caught)
    {
        systemExitCode = 1;
        try
        {
            self->SetException(MakeRef<CException>(OV_HERE, caught, kBodyText));
        }
        catch (...)
        {
        }
    }
    catch (const std::exception& caught)
    {
        systemExitCode = 1;
        try
        {
            const std::string text = std::string(caught.what()) + "\r\n(std::exception) " + kBodyText;
            self->SetException(MakeRef<CException>(OV_HERE, std::string_view(text)));
        }
        catch (...)
        {
        }
    }
    catch (...)
    {
        systemExitCode = 1;
        try
        {
            self->SetException(MakeRef<CException>(OV_HERE, std::string_view(kUnknownText)));
        }
        catch (...)
        {
        }
    }
    self->m_State.exchange(ThreadState::Finished);
    return systemExitCode;
}

void CThread::SetEndObserver(EndObserver observer)
{
    g_EndObserver.store(observer);
}

ThreadState CThread::Stop(DWORD timeout)
{
    const ThreadState previous = m_State.load();
    if (previous != ThreadState::Running)
        return previous;
    m_StopEvent.Set();
    if (::WaitForSingleObject(m_Handle.Get(), timeout) != WAIT_OBJECT_0)
        ::TerminateThread(m_Handle.Get(), 1);
    m_State.exchange(ThreadState::Finished);
    return previous;
}

ThreadState CThread::WaitForExit()
{
    const ThreadState previous = m_State.load();
    if (previous != ThreadState::Running)
        return previous;
    ::WaitForSingleObject(m_Handle.Get(), INFINITE);
    m_State.exchange(ThreadState::Finished);
    return previous;
}

void CThread::SignalStop()
{
    m_StopEvent.Set();
}

bool CThread::IsStopSignalled()
{
    return m_StopEvent.Wait(0) == WAIT_OBJECT_0;
}

bool CThread::WaitForStopSignal(DWORD timeout)
{
    return m_StopEvent.Wait(timeout) == WAIT_OBJECT_0;
}

CRefPtr<CException> CThread::GetException()
{
    CCriticalSectionLock lock(m_ExceptionLock);
    return m_Exception;
}

void CThread::SetException(const CRefPtr<CException>& exception)
{
    CCriticalSectionLock lock(m_ExceptionLock);
    m_Exception = exception;
}

} // namespace OV::System::Win32
