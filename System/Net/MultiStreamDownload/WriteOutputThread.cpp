#include "System/Net/MultiStreamDownload/WriteOutputThread.h"

#include "System/ErrorBoundary.h"
#include "System/Net/MultiStreamDownload/CaughtException.h"
#include "System/Net/MultiStreamDownload/OpenWithRetries.h"
#include "System/Net/MultiStreamDownload/ProgressFile.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::System::Net::MultiStreamDownload
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Net\\MultiStreamDownload\\WriteOutputThread.cpp";
// The writer's own failures are known as those of its thread body, at the lines they have always carried.
constexpr char kExecute[] = "OV::System::Net::MultiStreamDownload::CWriteOutputThread::Execute";
constexpr FixedPlace kCacheOpenFailure(250, kExecute);
constexpr FixedPlace kCacheSeekFailure(253, kExecute);
constexpr FixedPlace kBlockWriteFailure(314, kExecute);
constexpr FixedPlace kBlockSeekFailure(318, kExecute);
constexpr int kWriteTries = 3;
constexpr std::uint32_t kBlocksPerStopCheck = 16;

bool SeekTo(HANDLE file, std::uint32_t offset)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return ::SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != FALSE;
}

// One block, whole: a WriteFile that reports fewer bytes than asked is continued with the rest, so the
// block reaches the file at its own offset before the next one follows it.
bool WriteWhole(HANDLE file, const unsigned char* data, std::uint32_t size)
{
    while (size > 0)
    {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr))
            return false;
        if (written == 0)
        {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

// Holds the queue lock for a scope; Wait sleeps on the condition variable with the lock released.
class CWriteOutputThread::CQueueLock
{
public:
    explicit CQueueLock(CWriteOutputThread& owner) : m_Owner(owner)
    {
        ::AcquireSRWLockExclusive(&m_Owner.m_QueueLock);
    }
    ~CQueueLock() { ::ReleaseSRWLockExclusive(&m_Owner.m_QueueLock); }
    CQueueLock(const CQueueLock&) = delete;
    CQueueLock& operator=(const CQueueLock&) = delete;

    // False when the time ran out.
    bool Wait(DWORD timeoutMs)
    {
        return ::SleepConditionVariableSRW(&m_Owner.m_QueueChanged, &m_Owner.m_QueueLock, timeoutMs, 0) !=
               FALSE;
    }

private:
    CWriteOutputThread& m_Owner;
};

CWriteOutputThread::CWriteOutputThread(const std::wstring& target, std::uint32_t firstByte,
                                       std::uint32_t writeOffset, std::uint32_t bufferCount,
                                       std::uint32_t bufferSize, std::uint32_t totalSize,
                                       std::uint32_t streamIndex, std::uint32_t streamCount,
                                       const std::string& lastModified)
    : m_StartEvent(false, false), m_BufferSize(bufferSize), m_FirstByte(firstByte),
      m_WriteOffset(writeOffset), m_Target(target), m_TotalSize(totalSize), m_LastModified(lastModified),
      m_StreamIndex(streamIndex), m_StreamCount(streamCount)
{
    m_Buffers.reserve(bufferCount);
    for (std::uint32_t i = 0; i < bufferCount; ++i)
        m_Buffers.push_back(std::make_unique<unsigned char[]>(bufferSize)); // zero-filled
    m_StartEvent.Reset();
    ThreadStart(nullptr, 0);
    OV_THROW_IF(::WaitForSingleObject(GetHandle(), 0) == WAIT_OBJECT_0,
                "WriteOutputThread failed to start worker thread");
    DWORD started = WAIT_FAILED;
    try
    {
        started = m_StartEvent.Wait(INFINITE);
    }
    catch (...)
    {
    }
    if (started != WAIT_OBJECT_0)
    {
        // The members go with this constructor: end the thread that uses them first.
        Stop(INFINITE);
        OV_THROW("WriteOutputThread failed to signal a successful start");
    }
}

CWriteOutputThread::~CWriteOutputThread()
{
    try
    {
        Stop(INFINITE);
    }
    catch (...)
    {
        // The stop event could not be set; the base destructor tries once more.
    }
}

CRefPtr<CException> CWriteOutputThread::GetException()
{
    CQueueLock lock(*this);
    return m_Exception;
}

void CWriteOutputThread::SetException(const CRefPtr<CException>& exception)
{
    {
        CQueueLock lock(*this);
        m_Exception = exception;
    }
    ::WakeAllConditionVariable(&m_QueueChanged);
}

bool CWriteOutputThread::IsQueuedLocked(std::uint32_t index) const
{
    for (const CRefPtr<WriteRequest>& request : m_Queue)
        if (request->BufferIndex == index)
            return true;
    return false;
}

bool CWriteOutputThread::HasEnded() const
{
    return GetState() != Win32::ThreadState::Running ||
           ::WaitForSingleObject(GetHandle(), 0) == WAIT_OBJECT_0;
}

unsigned char* CWriteOutputThread::GetBuffer(std::uint32_t index, bool* waited)
{
    const bool hadToWait = WaitForBuffer(index);
    if (waited != nullptr)
        *waited = hadToWait;
    if (const CRefPtr<CException> failure = GetException())
        OV_THROW(*failure, "GetBuffer Failed.");
    return m_Buffers.at(index).get();
}

bool CWriteOutputThread::WaitForBuffer(std::uint32_t index)
{
    bool waited = false;
    bool ended = false;
    for (;;)
    {
        bool timedOut = false;
        {
            CQueueLock lock(*this);
            if (waited)
            {
                // The writer's own failure first: a writer that failed is also on its way out by now,
                // and its cause is what the download must report.
                if (m_Exception)
                    OV_THROW(*m_Exception, "WriteFileThread Failed.");
                OV_THROW_IF(m_Leaving || ended, "WriteOutputThread has exited unexpectedly");
            }
            if (!IsQueuedLocked(index))
                return waited;
            timedOut = !lock.Wait(50);
            waited = true;
        }
        // A thread that ended without saying so (it was terminated) is seen here.
        ended = timedOut && HasEnded();
    }
}

void CWriteOutputThread::QueueBuffer(std::uint32_t index, std::uint32_t byteCount)
{
    {
        CQueueLock lock(*this);
        m_Queue.push_back(MakeRef<WriteRequest>(index, byteCount));
    }
    ::WakeAllConditionVariable(&m_QueueChanged);
}

void CWriteOutputThread::SignalEndOfData()
{
    {
        CQueueLock lock(*this);
        m_EndOfData = true;
    }
    ::WakeAllConditionVariable(&m_QueueChanged);
}

std::uint32_t CWriteOutputThread::Execute()
{
    try
    {
        WriteLoop();
    }
    catch (...)
    {
        SetException(WrapCaughtException(OV_HERE, "WriteOutputThread Execute Function"));
    }
    try
    {
        {
            CQueueLock lock(*this);
            m_Leaving = true;
            m_Queue.clear();
        }
        ::WakeAllConditionVariable(&m_QueueChanged);
        m_StartEvent.Set(); // a constructor still waiting learns that the thread is over
    }
    catch (...)
    {
        // Setting an event failed; the producer's waits are bounded and see the thread end anyway.
    }
    return 0;
}

void CWriteOutputThread::WriteLoop()
{
    const std::wstring cachePath = m_Target + L".cache";
    const Win32::CHandleHolder file = OpenWithRetries(cachePath, GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, this);
    if (!file.IsValid())
        OV_THROW_AT(kCacheOpenFailure, L"CreateFileW returned INVALID_FILE_VALUE.  FileName=" + cachePath);
    // The folder is the user's: a cache file with a second name elsewhere (a planted hard link) would have
    // the download overwrite that other file with this process's rights. Checked on the handle that writes.
    BY_HANDLE_FILE_INFORMATION information = {};
    OV_THROW_LAST_ERROR_IF(!::GetFileInformationByHandle(file.Get(), &information) ||
                               information.nNumberOfLinks != 1,
                           L"The cache file has other names.  FileName=" + cachePath);
    if (!SeekTo(file.Get(), m_WriteOffset))
        OV_THROW_AT(kCacheSeekFailure, L"SetFilePointer returned INVALID_SET_FILE_POINTER.  Offset=" +
                                           std::to_wstring(m_WriteOffset) + L" FileName=" + cachePath);

    StreamProgress record(m_Target, m_StreamIndex, m_WriteOffset, m_TotalSize, m_LastModified, m_StreamCount);
    CStreamProgressFile stateFile(record, *this);
    m_StartEvent.Set();

    // Looking at the stop event is a kernel call (under Wine a round trip to the server, dearer than a
    // block's write): it is done before every wait and after it, and every few blocks while blocks keep
    // coming, which still ends the thread within a few blocks of a stop.
    std::uint32_t blocksSinceStopCheck = 0;
    for (;;)
    {
        CRefPtr<WriteRequest> request;
        {
            CQueueLock lock(*this);
            if (m_Queue.empty())
            {
                if (m_EndOfData)
                    return;
                lock.Wait(50);
                if (m_Queue.empty() && m_EndOfData)
                    return;
                if (!m_Queue.empty())
                    request = m_Queue.front();
            }
            else
            {
                request = m_Queue.front();
            }
        }
        if (!request || ++blocksSinceStopCheck >= kBlocksPerStopCheck)
        {
            blocksSinceStopCheck = 0;
            if (IsStopSignalled())
                return;
        }
        if (!request)
            continue;
        WriteBlock(file.Get(), *request);
        record.Offset = m_WriteOffset;
        stateFile.Write(record);
        {
            CQueueLock lock(*this);
            m_Queue.pop_front();
        }
        ::WakeAllConditionVariable(&m_QueueChanged);
    }
}

void CWriteOutputThread::WriteBlock(HANDLE file, const WriteRequest& request)
{
    const unsigned char* data = m_Buffers.at(request.BufferIndex).get();
    for (int attempt = 0;; ++attempt)
    {
        if (WriteWhole(file, data, request.ByteCount))
            break;
        if (attempt + 1 >= kWriteTries)
            OV_THROW_AT(kBlockWriteFailure,
                        L"WriteFile failed in WriteOutputThread. FileName=" + m_Target + L".cache");
        ::Sleep(50);
        if (!SeekTo(file, m_WriteOffset))
            OV_THROW_AT(kBlockSeekFailure,
                        L"On Try " + std::to_wstring(attempt) +
                            L", SetFilePointer returned INVALID_SET_FILE_POINTER.  Offset=" +
                            std::to_wstring(m_WriteOffset) + L" FileName=" + m_Target + L".cache");
    }
    m_WriteOffset += request.ByteCount;
}

} // namespace OV::System::Net::MultiStreamDownload
