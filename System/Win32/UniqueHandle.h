#pragma once

#include <utility>

namespace OV::System::Win32
{

// Owns one handle of a kind described by Traits:
//   using Type = ...;                 the raw handle type
//   static Type Invalid();            the value that owns nothing
//   static bool IsValid(Type);        whether a value must be closed
//   static void Close(Type);          releases it
// Raw handles leave only as borrowed values (Get) or by an explicit Release.
template <typename Traits>
class CUniqueHandle
{
public:
    using Type = typename Traits::Type;

    CUniqueHandle() noexcept : m_Handle(Traits::Invalid()) {}
    explicit CUniqueHandle(Type handle) noexcept : m_Handle(handle) {}
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_Handle(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~CUniqueHandle() { Reset(); }

    Type Get() const noexcept { return m_Handle; }
    bool IsValid() const noexcept { return Traits::IsValid(m_Handle); }
    explicit operator bool() const noexcept { return IsValid(); }
    bool operator==(Type other) const noexcept { return m_Handle == other; }
    bool operator!=(Type other) const noexcept { return m_Handle != other; }

    Type Release() noexcept { return std::exchange(m_Handle, Traits::Invalid()); }

    void Reset(Type handle = Traits::Invalid()) noexcept
    {
        const Type old = std::exchange(m_Handle, handle);
        if (Traits::IsValid(old))
            Traits::Close(old);
    }

    // For out-parameters of the API that creates the handle.
    Type* Put() noexcept
    {
        Reset();
        return &m_Handle;
    }

private:
    Type m_Handle;
};

// The traits of the common kind: a value that CloseFunction releases and that InvalidValue marks as owning
// nothing. Handles with two "nothing" values (null and INVALID_HANDLE_VALUE) keep traits of their own.
template <typename T, auto CloseFunction, T InvalidValue = T{}>
struct CloseTraits
{
    using Type = T;
    static Type Invalid() noexcept { return InvalidValue; }
    static bool IsValid(Type value) noexcept { return value != InvalidValue; }
    static void Close(Type value) noexcept { CloseFunction(value); }
};

// The owner of a value closed by CloseFunction, for example CUniqueAny<HKEY, &::RegCloseKey>.
template <typename T, auto CloseFunction, T InvalidValue = T{}>
using CUniqueAny = CUniqueHandle<CloseTraits<T, CloseFunction, InvalidValue>>;

} // namespace OV::System::Win32
