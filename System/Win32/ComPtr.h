// Owners for COM: interface pointers, BSTRs and task-allocator memory.
#pragma once

#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"

#include <objbase.h>
#include <oleauto.h>

namespace OV::System::Win32
{

template <typename T>
void ReleaseComObject(T* object) noexcept
{
    object->Release();
}

// One reference to a COM object. Put() is the out-parameter of the call that creates it
// (reinterpret_cast<void**>(pointer.Put()) for CoCreateInstance and QueryInterface).
template <typename T>
using CComPtr = CUniqueAny<T*, &ReleaseComObject<T>>;

using CBstr = CUniqueAny<BSTR, &::SysFreeString>;

// Memory of the COM task allocator, such as the path that SHGetKnownFolderPath returns.
template <typename T>
using CCoTaskMem = CUniqueAny<T*, &::CoTaskMemFree>;

} // namespace OV::System::Win32
