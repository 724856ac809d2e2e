#pragma once

#include <utility>

namespace OV::System
{

// Counted reference to a CReferenceCounted object.
template <typename T>
class CRefPtr
{
public:
    CRefPtr() noexcept = default;
    CRefPtr(std::nullptr_t) noexcept {}
    explicit CRefPtr(T* object) noexcept : m_Object(object) { Acquire(); }
    CRefPtr(const CRefPtr& other) noexcept : m_Object(other.m_Object) { Acquire(); }
    CRefPtr(CRefPtr&& other) noexcept : m_Object(std::exchange(other.m_Object, nullptr)) {}

    template <typename U>
    CRefPtr(const CRefPtr<U>& other) noexcept : m_Object(other.Get())
    {
        Acquire();
    }

    ~CRefPtr() { Reset(); }

    CRefPtr& operator=(const CRefPtr& other) noexcept
    {
        CRefPtr copy(other);
        Swap(copy);
        return *this;
    }

    CRefPtr& operator=(CRefPtr&& other) noexcept
    {
        CRefPtr moved(std::move(other));
        Swap(moved);
        return *this;
    }

    void Reset() noexcept
    {
        if (T* object = std::exchange(m_Object, nullptr))
            object->Release();
    }

    void Swap(CRefPtr& other) noexcept { std::swap(m_Object, other.m_Object); }

    T* Get() const noexcept { return m_Object; }
    T* operator->() const noexcept { return m_Object; }
    T& operator*() const noexcept { return *m_Object; }
    explicit operator bool() const noexcept { return m_Object != nullptr; }

private:
    void Acquire() noexcept
    {
        if (m_Object)
            m_Object->AddRef();
    }

    T* m_Object = nullptr;
};

template <typename T, typename... Args>
CRefPtr<T> MakeRef(Args&&... args)
{
    return CRefPtr<T>(new T(std::forward<Args>(args)...));
}

} // namespace OV::System
