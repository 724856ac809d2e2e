#pragma once

#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"

#include <wininet.h>

#include <atomic>

namespace OV::System::Net
{

// Owns one WinInet handle (session, connection or request).
using CInternetHandle = OV::System::Win32::CUniqueAny<HINTERNET, &::InternetCloseHandle>;

// A WinInet handle that two threads may reach: the worker stores it, and whichever thread takes it out
// first (the worker when it finishes, or an abort from another thread) closes it. Whatever is still
// stored when the slot is destroyed is closed then.
class CSharedInternetHandle
{
public:
    CSharedInternetHandle() = default;
    CSharedInternetHandle(const CSharedInternetHandle&) = delete;
    CSharedInternetHandle& operator=(const CSharedInternetHandle&) = delete;
    ~CSharedInternetHandle() { Take().Reset(); }

    void Store(CInternetHandle handle) { CInternetHandle(m_Handle.exchange(handle.Release())).Reset(); }
    CInternetHandle Take() { return CInternetHandle(m_Handle.exchange(nullptr)); }
    // Borrowed: valid only while the slot still holds it.
    HINTERNET Get() const { return m_Handle.load(); }

private:
    std::atomic<HINTERNET> m_Handle{nullptr};
};

} // namespace OV::System::Net
