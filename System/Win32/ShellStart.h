#pragma once

#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <string>

namespace OV::System::Win32
{

// What the shell started.
struct ShellStarted
{
    // False when the shell refused; the thread's last error then says why.
    bool started = false;
    // The started process when the mask held SEE_MASK_NOCLOSEPROCESS and the shell made one.
    CHandleHolder process;

    explicit operator bool() const { return started; }
};

// Opens file with its parameters through the shell (ShellExecuteExW, the default verb, shown normally),
// with folder as the working folder when it is not empty.
ShellStarted ShellStart(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder,
                        ULONG mask);

} // namespace OV::System::Win32
