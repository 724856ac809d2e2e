#pragma once

#include <atomic>
#include <cstdint>

namespace OV::System
{

// Root of the class tree: gives every object a virtual destructor.
class CObject
{
public:
    virtual ~CObject() = default;
};

class CNonCopyable
{
public:
    CNonCopyable(const CNonCopyable&) = delete;
    CNonCopyable& operator=(const CNonCopyable&) = delete;

protected:
    CNonCopyable() = default;
    ~CNonCopyable() = default;
};

// Intrusive count shared by threads, events, downloads and exceptions. A new object has count 0;
// the release that brings it back to 0 deletes the object.
class CReferenceCounted : public CObject, public CNonCopyable
{
public:
    std::int32_t AddRef() const noexcept { return ++m_ReferenceCount; }

    std::int32_t Release() const noexcept
    {
        const std::int32_t remaining = --m_ReferenceCount;
        if (remaining == 0)
            delete this;
        return remaining;
    }

    std::int32_t GetReferenceCount() const noexcept { return m_ReferenceCount.load(); }

protected:
    CReferenceCounted() = default;

private:
    mutable std::atomic<std::int32_t> m_ReferenceCount{0};
};

} // namespace OV::System
