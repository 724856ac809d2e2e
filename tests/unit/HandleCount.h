#pragma once

#include "System/Platform.h"

namespace OV::Tests
{

// Number of open handles of this process. Wine's GetProcessHandleCount reports 0, so where it gives nothing
// the handle table is probed instead: handle values are small multiples of 4, handed out lowest first.
inline DWORD CountOpenHandles()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    for (ULONG_PTR value = 4; value < 0x8000; value += 4)
    {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

} // namespace OV::Tests
