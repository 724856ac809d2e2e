#pragma once

#include "System/Object.h"

#include <cstdint>

namespace OV::System::IO::Stream
{

// Where Seek counts from.
enum SeekOrigin : int
{
    SeekBegin = 0,
    SeekCurrent = 1,
    SeekEnd = 2
};

// A byte stream. Positions, lengths and offsets are 64-bit; a single read or write moves at most
// 2 GiB - 1 bytes. Users hold streams through counted references (CRefPtr<CStream>).
class CStream : public OV::System::CReferenceCounted
{
public:
    ~CStream() override = default;

    virtual bool CanRead() = 0;
    virtual bool CanSeek() = 0;
    virtual bool CanWrite() = 0;
    virtual std::int64_t GetLength() = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    virtual std::int64_t GetPosition() = 0;
    virtual void Flush() = 0;
    // Returns the number of bytes read; 0 at the end.
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    // origin: SeekOrigin. Returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
    virtual void SetLength(std::int64_t length) = 0;
    virtual void Write(const void* buffer, std::int32_t count) = 0;

protected:
    CStream() = default;
};

} // namespace OV::System::IO::Stream
