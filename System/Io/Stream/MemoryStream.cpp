#include "System/Io/Stream/MemoryStream.h"

#include "System/ErrorBoundary.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace OV::System::IO::Stream
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Io\\Stream\\MemoryStream.cpp";

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

bool IsCursor(int cursor)
{
    return cursor == 0 || cursor == 1;
}

} // namespace

CMemoryStream::CMemoryStream(void* memory, std::int64_t length)
    : m_Buffer(static_cast<std::uint8_t*>(memory)), m_Capacity(length), m_Length(length), m_OwnsBuffer(false)
{
    if (length < 0 || (memory == nullptr && length != 0))
    {
        m_Buffer = nullptr;
        m_Capacity = m_Length = 0;
        OV_THROW("memory stream length");
    }
}

CMemoryStream::~CMemoryStream()
{
    if (m_OwnsBuffer)
        std::free(m_Buffer);
}

std::int64_t CMemoryStream::GetCursorPosition(int cursor) const
{
    OV_THROW_IF(!IsCursor(cursor), "memory stream position cursor");
    return m_Cursors[cursor];
}

void CMemoryStream::SetPosition(std::int64_t position)
{
    OV_THROW_IF(position < 0 || position > m_Length, "memory stream position");
    m_Cursors[0] = position;
}

std::int32_t CMemoryStream::ReadCur(int cursor, void* buffer, std::int32_t count)
{
    OV_THROW_IF(count < 0, "bad memory stream read count");
    OV_THROW_IF(!IsCursor(cursor), "memory stream position cursor");
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
    OV_THROW_IF(!IsCursor(cursor), "memory stream position cursor");
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
        OV_THROW("seek origin");
    }
    std::int64_t target = 0;
    if (AddWithoutOverflow(base, offset, target) && target >= 0 && target <= m_Length)
        m_Cursors[cursor] = target;
}

void CMemoryStream::WriteCur(int cursor, const void* buffer, std::int32_t count)
{
    if (count == 0)
        return;
    OV_THROW_IF(buffer == nullptr, "nullptr buffer pointer");
    OV_THROW_IF(!IsCursor(cursor), "memory stream position cursor");
    OV_THROW_IF(count < 0, "bad memory stream write count");
    std::int64_t& position = m_Cursors[cursor];
    std::int64_t end = 0;
    OV_THROW_IF(!AddWithoutOverflow(position, count, end), "memory stream length");
    if (end > m_Length)
        SetLength(end);
    std::memcpy(m_Buffer + position, buffer, static_cast<size_t>(count));
    position = end;
}

void CMemoryStream::SetLength(std::int64_t length)
{
    OV_THROW_IF(length < 0, "memory stream length");
    if (length == m_Length)
        return;
    OV_THROW_IF(!m_OwnsBuffer, "SetLength on externally-owned memory stream");
    if (length > m_Capacity)
    {
        // Doubling keeps a stream that grows in small writes at a logarithmic number of reallocations; a
        // length whose double leaves the range asks for more than can ever be allocated.
        ChangeCapacityTo(length > kMaxPosition / 2 ? kMaxPosition : 2 * length);
    }
    m_Length = length;
}

void CMemoryStream::SetCapacity(std::int64_t capacity)
{
    OV_THROW_IF(capacity < 0, "memory stream length");
    OV_THROW_IF(!m_OwnsBuffer, "SetCapacity on externally-owned memory stream");
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
            OV_THROW("realloc failed");
        buffer = static_cast<std::uint8_t*>(std::realloc(m_Buffer, static_cast<size_t>(capacity)));
        if (buffer == nullptr)
            OV_THROW("realloc failed");
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
