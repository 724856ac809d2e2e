#include "System/Net/MultiStreamDownload/WriteOutputThread.h"

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
constexpr char kConstructor[] =
    "OV::System::Net::MultiStreamDownload::CWriteOutputThread::CWriteOutputThread";
constexpr char kExecute[] = "OV::System::Net::MultiStreamDownload::CWriteOutputThread::Execute";
constexpr char kWaitForBuffer[] = "OV::System::Net::MultiStreamDownload::CWriteOutputThread::WaitForBuffer";
constexpr int kWriteTries = 3;

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

[[noreturn]] void ThrowWithError(int line, const std::wstring& message, DWORD error)
{
    ::SetLastError(error);
    throw CException(kSource, line, kExecute, message);
}

} // namespace

CWriteOutputThread::CWriteOutputThread(const std::wstring& target, std::uint32_t firstByte,
                                       std::uint32_t writeOffset, std::uint32_t bufferCount,
                                       std::uint32_t bufferSize, std::uint32_t totalSize,
                                       std::uint32_t streamIndex, std::uint32_t streamCount,
                                       const std::string& lastModified)
    : m_StartEvent(false, false), m_DataEvent(false, false), m_BufferFreedEvent(false, false),
      m_BufferSize(bufferSize), m_FirstByte(firstByte), m_WriteOffset(writeOffset), m_Target(target),
      m_TotalSize(totalSize), m_LastModified(lastModified), m_StreamIndex(streamIndex),
      m_StreamCount(streamCount)
{
    m_Buffers.reserve(bufferCount);
    for (std::uint32_t i = 0; i < bufferCount; ++i)
        m_Buffers.push_back(std::make_unique<unsigned char[]>(bufferSize)); // zero-filled
    m_StartEvent.Reset();
    ThreadStart(nullptr, 0);
    if (::WaitForSingleObject(GetHandle(), 0) == WAIT_OBJECT_0)
        throw CException(kSource, __LINE__, kConstructor, "WriteOutputThread failed to start worker thread");
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
        throw CException(kSource, __LINE__, kConstructor,
                         "WriteOutputThread failed to signal a successful start");
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
    Win32::CCriticalSectionLock lock(m_QueueLock);
    return m_Exception;
}

void CWriteOutputThread::SetException(const CRefPtr<CException>& exception)
{
    Win32::CCriticalSectionLock lock(m_QueueLock);
    m_Exception = exception;
}

bool CWriteOutputThread::IsQueued(std::uint32_t index)
{
    Win32::CCriticalSectionLock lock(m_QueueLock);
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

unsigned char* CWriteOutputThread::GetBuffer(std::uint32_t index)
{
    WaitForBuffer(index);
    if (const CRefPtr<CException> failure = GetException())
        throw CException(kSource, __LINE__,
                         "OV::System::Net::MultiStreamDownload::CWriteOutputThread::GetBuffer", *failure,
                         "GetBuffer Failed.");
    return m_Buffers.at(index).get();
}

void CWriteOutputThread::WaitForBuffer(std::uint32_t index)
{
    if (!IsQueued(index))
        return;
    for (;;)
    {
        m_BufferFreedEvent.Wait(50);
        if (HasEnded())
            throw CException(kSource, __LINE__, kWaitForBuffer, "WriteOutputThread has exited unexpectedly");
        if (const CRefPtr<CException> failure = GetException())
            throw CException(kSource, __LINE__, kWaitForBuffer, *failure, "WriteFileThread Failed.");
        if (!IsQueued(index))
            return;
    }
}

void CWriteOutputThread::QueueBuffer(std::uint32_t index, std::uint32_t byteCount)
{
    {
        Win32::CCriticalSectionLock lock(m_QueueLock);
        m_Queue.push_back(MakeRef<WriteRequest>(index, byteCount));
    }
    m_DataEvent.Set();
}

void CWriteOutputThread::SignalEndOfData()
{
    m_EndOfData.store(true);
    m_DataEvent.Set();
}

std::uint32_t CWriteOutputThread::Execute()
{
    try
    {
        WriteLoop();
    }
    catch (...)
    {
        SetException(WrapCaughtException(kSource, __LINE__, kExecute, "WriteOutputThread Execute Function"));
    }
    try
    {
        {
            Win32::CCriticalSectionLock lock(m_QueueLock);
            m_Queue.clear();
        }
        m_BufferFreedEvent.Set();
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
        ThrowWithError(__LINE__, L"CreateFileW returned INVALID_FILE_VALUE.  FileName=" + cachePath,
                       ::GetLastError());
    if (!SeekTo(file.Get(), m_WriteOffset))
        ThrowWithError(__LINE__,
                       L"SetFilePointer returned INVALID_SET_FILE_POINTER.  Offset=" +
                           std::to_wstring(m_WriteOffset) + L" FileName=" + cachePath,
                       ::GetLastError());

    StreamProgress record(m_Target, m_StreamIndex, m_WriteOffset, m_TotalSize, m_LastModified, m_StreamCount);
    m_StartEvent.Set();

    for (;;)
    {
        if (IsStopSignalled())
            return;
        m_DataEvent.Wait(50);
        for (;;)
        {
            if (IsStopSignalled())
                return;
            // Read the end mark before looking at the queue: the producer queues its last block before
            // it sets the mark, so an empty queue seen after the mark is really the end.
            const bool endOfData = m_EndOfData.load();
            CRefPtr<WriteRequest> request;
            {
                Win32::CCriticalSectionLock lock(m_QueueLock);
                if (m_Queue.empty())
                {
                    if (endOfData)
                        return;
                    break;
                }
                request = m_Queue.front();
            }
            WriteBlock(file.Get(), *request);
            record.Offset = m_WriteOffset;
            record.Write(*this);
            {
                Win32::CCriticalSectionLock lock(m_QueueLock);
                m_Queue.pop_front();
            }
            m_BufferFreedEvent.Set();
        }
    }
}

void CWriteOutputThread::WriteBlock(HANDLE file, const WriteRequest& request)
{
    const unsigned char* data = m_Buffers.at(request.BufferIndex).get();
    for (int attempt = 0;; ++attempt)
    {
        if (WriteWhole(file, data, request.ByteCount))
            break;
        const DWORD error = ::GetLastError();
        if (attempt + 1 >= kWriteTries)
            ThrowWithError(__LINE__,
                           L"WriteFile failed in WriteOutputThread. FileName=" + m_Target + L".cache", error);
        ::Sleep(50);
        if (!SeekTo(file, m_WriteOffset))
            ThrowWithError(__LINE__,
                           L"On Try " + std::to_wstring(attempt) +
                               L", SetFilePointer returned INVALID_SET_FILE_POINTER.  Offset=" +
                               std::to_wstring(m_WriteOffset) + L" FileName=" + m_Target + L".cache",
                           ::GetLastError());
    }
    m_WriteOffset += request.ByteCount;
}

} // namespace OV::System::Net::MultiStreamDownload
