#pragma once

#include "System/Io/Stream/Stream.h"

#include <cstdint>

namespace OV::System::IO::Stream
{

// A stream over a growable memory block with two independent cursors; cursor 0 is the one the stream
// interface uses, so one side can write through cursor 0 while the other reads through cursor 1.
// A stream made over memory it does not own reads and writes within that memory but never resizes it.
class CMemoryStream : public CStream
{
public:
    // An empty stream that owns its (growable) buffer.
    CMemoryStream() = default;
    // Wraps caller-owned memory of `length` bytes; the caller keeps it alive and frees it.
    CMemoryStream(void* memory, std::int64_t length);
    ~CMemoryStream() override;

    bool CanRead() override { return true; }
    bool CanSeek() override { return true; }
    bool CanWrite() override { return true; }
    std::int64_t GetLength() override { return m_Length; }
    void SetPosition(std::int64_t position) override;
    std::int64_t GetPosition() override { return m_Cursors[0]; }
    void Flush() override {}
    std::int32_t Read(void* buffer, std::int32_t count) override { return ReadCur(0, buffer, count); }
    // Returns cursor 0's position after the move (unchanged when the target was out of range).
    std::int64_t Seek(std::int64_t offset, int origin) override;
    void SetLength(std::int64_t length) override;
    void Write(const void* buffer, std::int32_t count) override { WriteCur(0, buffer, count); }

    // A null buffer skips the bytes.
    std::int32_t ReadCur(int cursor, void* buffer, std::int32_t count);
    // A target outside 0..length leaves the cursor where it was.
    void SeekCur(int cursor, std::int64_t offset, int origin);
    void WriteCur(int cursor, const void* buffer, std::int32_t count);
    // Grows the buffer to at least `capacity` bytes; never shrinks it.
    void SetCapacity(std::int64_t capacity);

    std::int64_t GetCapacity() const { return m_Capacity; }
    std::int64_t GetCursorPosition(int cursor) const;
    bool OwnsBuffer() const { return m_OwnsBuffer; }
    // The bytes of the stream (GetLength() of them); valid until the next resize.
    const std::uint8_t* GetBuffer() const { return m_Buffer; }
    std::uint8_t* GetBuffer() { return m_Buffer; }

private:
    void ChangeCapacityTo(std::int64_t capacity);

    std::uint8_t* m_Buffer = nullptr;
    std::int64_t m_Capacity = 0;
    std::int64_t m_Length = 0;
    bool m_OwnsBuffer = true;
    std::int64_t m_Cursors[2] = {0, 0};
};

} // namespace OV::System::IO::Stream
