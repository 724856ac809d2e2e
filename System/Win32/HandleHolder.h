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

struct RegistryKeyTraits
{
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type key) { return key != nullptr; }
    static void Close(Type key) { ::RegCloseKey(key); }
};

struct LocalMemoryTraits
{
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type memory) { return memory != nullptr; }
    static void Close(Type memory) { ::LocalFree(memory); }
};

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean "nothing to close".
using CHandleHolder = CUniqueHandle<KernelHandleTraits>;
using CFindHandle = CUniqueHandle<FindHandleTraits>;
using CRegistryKeyHandle = CUniqueHandle<RegistryKeyTraits>;
using CLocalMemory = CUniqueHandle<LocalMemoryTraits>;

} // namespace OV::System::Win32
