#include "System/Net/HttpWebRequestWorker.h"

#include "System/Net/HttpWebRequestTransfer.h"

#include <process.h>

#include <algorithm>
#include <utility>

namespace OV::System::Net
{

using OV::System::Win32::CCriticalSectionLock;
using OV::System::Win32::CHandleHolder;

namespace
{
constexpr unsigned kWorkerStackSize = 4000;
constexpr std::uint32_t kAbortWaitMs = 100;
} // namespace

CHttpWebRequestWorker::CHttpWebRequestWorker(CRefPtr<RequestSharedState> shared) : m_Shared(std::move(shared))
{
}

unsigned __stdcall CHttpWebRequestWorker::ThreadMain(void* argument)
{
    auto* shared = static_cast<RequestSharedState*>(argument);
    {
        // Taken once the starting thread has stored this thread's handle and let go of the lock.
        CCriticalSectionLock lock(shared->m_WorkerLock);
    }
    CHttpWebRequestTransfer(*shared).Run();
    {
        CCriticalSectionLock lock(shared->m_WorkerLock);
        if (!shared->m_NextOutputPath.empty())
        {
            shared->m_OutputPath = shared->m_NextOutputPath;
            shared->m_NextOutputPath.clear();
        }
        shared->m_WorkerThread.Reset();
    }
    shared->Release();
    return 0;
}

bool CHttpWebRequestWorker::Start()
{
    CCriticalSectionLock workerLock(m_Shared->m_WorkerLock);
    if (m_Shared->m_WorkerThread)
        return true;
    {
        CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
        ResetForTransfer();
        m_Shared->m_Result.state = HttpWebRequestCodes::StateRunning;
        m_Shared->m_TotalTimer.Reset();
        m_Shared->m_TotalTimer.Start();
    }
    // The worker's reference, released by the worker as its last act.
    m_Shared->AddRef();
    unsigned threadId = 0;
    const uintptr_t thread = ::_beginthreadex(nullptr, kWorkerStackSize, &CHttpWebRequestWorker::ThreadMain,
                                              m_Shared.Get(), 0, &threadId);
    if (thread == 0)
    {
        const DWORD error = ::GetLastError();
        m_Shared->Release();
        {
            CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
            HttpWebRequestResult& result = m_Shared->m_Result;
            result.state = HttpWebRequestCodes::StateFailed;
            result.failed = true;
            result.failureDetail = HttpWebRequestCodes::DetailOther;
            m_Shared->m_Complete = true;
        }
        ::SetLastError(error);
        return false;
    }
    m_Shared->m_WorkerThread.Reset(reinterpret_cast<HANDLE>(thread));
    return true;
}

void CHttpWebRequestWorker::ResetForTransfer()
{
    if (!m_Shared->m_Complete)
        return;
    m_Shared->m_Complete = false;
    m_Shared->m_CancelRequested = false;
    m_Shared->m_Result.Clear();
}

bool CHttpWebRequestWorker::IsRunning() const
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return static_cast<bool>(m_Shared->m_WorkerThread);
}

bool CHttpWebRequestWorker::Wait(std::uint32_t timeoutMs) const
{
    CHandleHolder worker;
    {
        CCriticalSectionLock lock(m_Shared->m_WorkerLock);
        if (!m_Shared->m_WorkerThread)
            return true;
        if (!::DuplicateHandle(::GetCurrentProcess(), m_Shared->m_WorkerThread.Get(), ::GetCurrentProcess(),
                               worker.Put(), SYNCHRONIZE, FALSE, 0))
        {
            // Without a handle of our own, wait in short steps until the worker clears its own.
            worker.Reset();
        }
    }
    if (!worker)
    {
        ::Sleep(std::min<std::uint32_t>(timeoutMs, 10));
        return !IsRunning();
    }
    return ::WaitForSingleObject(worker.Get(), timeoutMs) != WAIT_TIMEOUT;
}

void CHttpWebRequestWorker::Abort()
{
    CHandleHolder worker;
    {
        CCriticalSectionLock workerLock(m_Shared->m_WorkerLock);
        CCriticalSectionLock fieldsLock(m_Shared->m_FieldsLock);
        if (!m_Shared->m_WorkerThread)
        {
            m_Shared->m_Result.cancelled = true;
            return;
        }
        if (!m_Shared->m_Complete)
        {
            m_Shared->m_Result.state = HttpWebRequestCodes::StateFailed;
            m_Shared->m_Result.failureDetail = HttpWebRequestCodes::DetailAborted;
            m_Shared->m_CancelRequested = true;
        }
        ::DuplicateHandle(::GetCurrentProcess(), m_Shared->m_WorkerThread.Get(), ::GetCurrentProcess(),
                          worker.Put(), SYNCHRONIZE, FALSE, 0);
    }
    // The worker takes the worker lock as it ends, so the waits happen without it. Closing the handles
    // breaks a blocked WinInet call on Windows; under Wine it does not, and the time-outs that the
    // worker set on the connection end the call instead.
    for (;;)
    {
        if (worker ? ::WaitForSingleObject(worker.Get(), kAbortWaitMs) != WAIT_TIMEOUT : Wait(kAbortWaitMs))
            return;
        m_Shared->CloseInternetHandles();
    }
}

void CHttpWebRequestWorker::SetOutputFile(const std::wstring& path)
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    if (m_Shared->m_WorkerThread)
        m_Shared->m_NextOutputPath = path;
    else
        m_Shared->m_OutputPath = path;
}

std::wstring CHttpWebRequestWorker::GetOutputFile() const
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return m_Shared->m_OutputPath;
}

std::wstring CHttpWebRequestWorker::GetNextOutputFile() const
{
    CCriticalSectionLock lock(m_Shared->m_WorkerLock);
    return m_Shared->m_NextOutputPath;
}

} // namespace OV::System::Net
