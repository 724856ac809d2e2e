#pragma once

#include "System/Platform.h"
#include "System/Win32/UniqueHandle.h"

namespace OV::System::Win32
{

struct KernelHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { ::CloseHandle(handle); }
};

struct FindHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { ::FindClose(handle); }
};

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean "nothing to close".
using CHandleHolder = CUniqueHandle<KernelHandleTraits>;
using CFindHandle = CUniqueHandle<FindHandleTraits>;
using RegistryKeyTraits = CloseTraits<HKEY, &::RegCloseKey>;
using LocalMemoryTraits = CloseTraits<HLOCAL, &::LocalFree>;
using CRegistryKeyHandle = CUniqueHandle<RegistryKeyTraits>;
using CLocalMemory = CUniqueHandle<LocalMemoryTraits>;

} // namespace OV::System::Win32
