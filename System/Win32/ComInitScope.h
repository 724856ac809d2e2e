#pragma once

#include "System/Object.h"
#include "System/Platform.h"

#include <objbase.h>

namespace OV::System::Win32
{

// COM for the current thread for the lifetime of a scope. Only a successful CoInitialize (S_OK, or
// S_FALSE when the thread had it already) is balanced by CoUninitialize.
class CComInitScope : public CNonCopyable
{
public:
    // A single-threaded apartment.
    CComInitScope() : m_Result(::CoInitialize(nullptr)) {}
    // The apartment that the flags name (COINIT_MULTITHREADED, for example).
    explicit CComInitScope(DWORD apartment) : m_Result(::CoInitializeEx(nullptr, apartment)) {}
    ~CComInitScope()
    {
        if (SUCCEEDED(m_Result))
            ::CoUninitialize();
    }

    HRESULT GetResult() const { return m_Result; }

private:
    HRESULT m_Result;
};

} // namespace OV::System::Win32
