#include "System/Io/Stream/MemoryStream.h"

#include "System/Exception.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace OV::System::IO::Stream
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Io\\Stream\\MemoryStream.cpp";
constexpr char kSetPosition[] = "OV::System::IO::Stream::CMemoryStream::SetPosition";
constexpr char kReadCur[] = "OV::System::IO::Stream::CMemoryStream::ReadCur";
constexpr char kSeekCur[] = "OV::System::IO::Stream::CMemoryStream::SeekCur";
constexpr char kWriteCur[] = "OV::System::IO::Stream::CMemoryStream::WriteCur";
constexpr char kSetLength[] = "OV::System::IO::Stream::CMemoryStream::SetLength";
constexpr char kSetCapacity[] = "OV::System::IO::Stream::CMemoryStream::SetCapacity";
constexpr char kChangeCapacityTo[] = "OV::System::IO::Stream::CMemoryStream::ChangeCapacityTo";

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int64_t>::max();

// base + offset, or false when that leaves the 64-bit range.
bool AddWithoutOverflow(std::int64_t base, std::int64_t offset, std::int64_t& sum)
{
    if ((offset > 0 && base > kMaxPosition - offset) ||
        (offset < 0 && base < std::numeric_limits<std::int64_t>::min() - offset))
        return false;
    sum = base + offset;
    return true;
}

} // namespace

CMemoryStream::CMemoryStream(void* memory, std::int64_t length)
    : m_Buffer(static_cast<std::uint8_t*>(memory)), m_Capacity(length), m_Length(length), m_OwnsBuffer(false)
{
    if (length < 0 || (memory == nullptr && length != 0))
    {
        m_Buffer = nullptr;
        m_Capacity = m_Length = 0;
        throw CException(kSource, __LINE__, "OV::System::IO::Stream::CMemoryStream::CMemoryStream",
                         "memory stream length");
    }
}

CMemoryStream::~CMemoryStream()
{
    if (m_OwnsBuffer)
        std::free(m_Buffer);
}

void CMemoryStream::CheckCursor(int cursor, const char* function, int line)
{
    if (cursor != 0 && cursor != 1)
        throw CException(kSource, line, function, "memory stream position cursor");
}

std::int64_t CMemoryStream::GetCursorPosition(int cursor) const
{
    CheckCursor(cursor, "OV::System::IO::Stream::CMemoryStream::GetCursorPosition", __LINE__);
    return m_Cursors[cursor];
}

void CMemoryStream::SetPosition(std::int64_t position)
{
    if (position < 0 || position > m_Length)
        throw CException(kSource, __LINE__, kSetPosition, "memory stream position");
    m_Cursors[0] = position;
}

std::int32_t CMemoryStream::ReadCur(int cursor, void* buffer, std::int32_t count)
{
    if (count < 0)
        throw CException(kSource, __LINE__, kReadCur, "bad memory stream read count");
    CheckCursor(cursor, kReadCur, __LINE__);
    std::int64_t& position = m_Cursors[cursor];
    std::int64_t available = m_Length - position;
    if (available < 0)
        available = 0;
    const std::int32_t n = static_cast<std::int32_t>(available < count ? available : count);
    if (buffer != nullptr && n > 0)
        std::memcpy(buffer, m_Buffer + position, static_cast<size_t>(n));
    position += n;
    return n;
}

std::int64_t CMemoryStream::Seek(std::int64_t offset, int origin)
{
    SeekCur(0, offset, origin);
    return m_Cursors[0];
}

void CMemoryStream::SeekCur(int cursor, std::int64_t offset, int origin)
{
    CheckCursor(cursor, kSeekCur, __LINE__);
    std::int64_t base = 0;
    switch (origin)
    {
    case SeekBegin:
        base = 0;
        break;
    case SeekCurrent:
        base = m_Cursors[cursor];
        break;
    case SeekEnd:
        base = m_Length;
        break;
    default:
        throw CException(kSource, __LINE__, kSeekCur, "seek origin");
    }
    std::int64_t target = 0;
    if (AddWithoutOverflow(base, offset, target) && target >= 0 && target <= m_Length)
        m_Cursors[cursor] = target;
}

void CMemoryStream::WriteCur(int cursor, const void* buffer, std::int32_t count)
{
    if (count == 0)
        return;
    if (buffer == nullptr)
        throw CException(kSource, __LINE__, kWriteCur, "nullptr buffer pointer");
    CheckCursor(cursor, kWriteCur, __LINE__);
    if (count < 0)
        throw CException(kSource, __LINE__, kWriteCur, "bad memory stream write count");
    std::int64_t& position = m_Cursors[cursor];
    std::int64_t end = 0;
    if (!AddWithoutOverflow(position, count, end))
        throw CException(kSource, __LINE__, kWriteCur, "memory stream length");
    if (end > m_Length)
        SetLength(end);
    std::memcpy(m_Buffer + position, buffer, static_cast<size_t>(count));
    position = end;
}

void CMemoryStream::SetLength(std::int64_t length)
{
    if (length < 0)
        throw CException(kSource, __LINE__, kSetLength, "memory stream length");
    if (length == m_Length)
        return;
    if (!m_OwnsBuffer)
        throw CException(kSource, __LINE__, kSetLength, "SetLength on externally-owned memory stream");
    if (length > m_Capacity)
    {
        // Doubling keeps a stream that grows in small writes at a logarithmic number of reallocations.
        if (length > kMaxPosition / 2)
            throw CException(kSource, __LINE__, kChangeCapacityTo, "realloc failed");
        ChangeCapacityTo(2 * length);
    }
    m_Length = length;
}

void CMemoryStream::SetCapacity(std::int64_t capacity)
{
    if (capacity < 0)
        throw CException(kSource, __LINE__, kSetCapacity, "memory stream length");
    if (!m_OwnsBuffer)
        throw CException(kSource, __LINE__, kSetCapacity, "SetCapacity on externally-owned memory stream");
    if (capacity > m_Capacity)
        ChangeCapacityTo(capacity);
}

void CMemoryStream::ChangeCapacityTo(std::int64_t capacity)
{
    if (capacity == m_Capacity)
        return;
    std::uint8_t* buffer = nullptr;
    if (capacity > 0)
    {
        // A size that does not fit size_t (a 32-bit process) cannot be allocated either.
        if (static_cast<std::uint64_t>(capacity) > std::numeric_limits<size_t>::max())
            throw CException(kSource, __LINE__, kChangeCapacityTo, "realloc failed");
        buffer = static_cast<std::uint8_t*>(std::realloc(m_Buffer, static_cast<size_t>(capacity)));
        if (buffer == nullptr)
            throw CException(kSource, __LINE__, kChangeCapacityTo, "realloc failed");
    }
    else
    {
        std::free(m_Buffer);
    }
    m_Buffer = buffer;
    m_Capacity = capacity;
    if (m_Length > capacity)
        m_Length = capacity;
    for (std::int64_t& cursor : m_Cursors)
    {
        if (cursor > capacity)
            cursor = capacity;
    }
}

} // namespace OV::System::IO::Stream
