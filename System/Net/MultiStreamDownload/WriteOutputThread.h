#pragma once

#include "System/Exception.h"
#include "System/RefPtr.h"
#include "System/Win32/Event.h"
#include "System/Win32/Synchronization.h"
#include "System/Win32/Thread.h"

#include "System/Platform.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace OV::System::Net::MultiStreamDownload
{

// Writes one stream's blocks into the shared cache file T + ".cache" while the stream's download thread
// reads the next block from the network. The download thread fills buffer i, hands it over with
// QueueBuffer(i, n) and takes the other buffer; this thread writes the handed-over blocks in order at
// consecutive offsets and rewrites the stream's state file after each one, so the state file never claims
// more than the cache file holds. One writer per connection attempt.
class CWriteOutputThread : public Win32::CThread
{
public:
    // Returns once the cache file is open and positioned at writeOffset, or the thread has ended (its
    // failure then shows at the first GetBuffer).
    CWriteOutputThread(const std::wstring& target, std::uint32_t firstByte, std::uint32_t writeOffset,
                       std::uint32_t bufferCount, std::uint32_t bufferSize, std::uint32_t totalSize,
                       std::uint32_t streamIndex, std::uint32_t streamCount, const std::string& lastModified);
    ~CWriteOutputThread() override;

    // Buffer index once it is free to fill; throws when the writer failed or ended meanwhile. waited, when
    // given, tells whether the buffer was still being written.
    unsigned char* GetBuffer(std::uint32_t index, bool* waited = nullptr);
    // True when it had to wait for the buffer.
    bool WaitForBuffer(std::uint32_t index);
    void QueueBuffer(std::uint32_t index, std::uint32_t byteCount);
    // No more blocks will come: the writer writes what is queued, then ends.
    void SignalEndOfData();

    CRefPtr<CException> GetException();
    void SetException(const CRefPtr<CException>& exception);

    std::uint32_t GetBufferSize() const { return m_BufferSize; }
    // Where the next byte would go; read it only once the thread has ended.
    std::uint32_t GetWriteOffset() const { return m_WriteOffset; }

protected:
    std::uint32_t Execute() override;

private:
    struct WriteRequest : public CReferenceCounted
    {
        WriteRequest(std::uint32_t bufferIndex, std::uint32_t byteCount)
            : BufferIndex(bufferIndex), ByteCount(byteCount)
        {
        }
        std::uint32_t BufferIndex;
        std::uint32_t ByteCount;
    };

    void WriteLoop();
    bool IsQueuedLocked(std::uint32_t index) const;
    bool HasEnded() const;
    void WriteBlock(HANDLE file, const WriteRequest& request);

    // A block is handed over and handed back once per 64 KiB in each direction. A slim lock and a
    // condition variable do that without the kernel: kernel events cost a round trip to the Wine server
    // each (about 20 microseconds, measured), which took a third of a block's time at loopback speed.
    class CQueueLock;

    std::list<CRefPtr<WriteRequest>> m_Queue;
    SRWLOCK m_QueueLock = SRWLOCK_INIT; // guards m_Queue, m_EndOfData, m_Leaving, m_Exception
    CONDITION_VARIABLE m_QueueChanged = CONDITION_VARIABLE_INIT; // a block queued or freed, or the end
    Win32::CEvent m_StartEvent;
    bool m_EndOfData = false;
    bool m_Leaving = false; // the thread is on its way out: what is queued will not be written
    std::vector<std::unique_ptr<unsigned char[]>> m_Buffers;
    std::uint32_t m_BufferSize;
    std::uint32_t m_FirstByte;
    std::uint32_t m_WriteOffset;
    std::wstring m_Target;
    std::uint32_t m_TotalSize;
    std::string m_LastModified;
    std::uint32_t m_StreamIndex;
    std::uint32_t m_StreamCount;
    CRefPtr<CException> m_Exception;
};

} // namespace OV::System::Net::MultiStreamDownload
