// A file held open for reading while others may only read it: nobody can change, replace, rename or
// delete it until it is released, so the bytes that were checked are the bytes that run.
#pragma once

#include "System/Win32/HandleHolder.h"

#include <cstdint>
#include <functional>
#include <string>

namespace OV::Updater::Trust
{

class CHeldFile
{
public:
    CHeldFile() = default;
    // Opens path for reading, sharing read access only; IsHeld() tells whether that worked.
    explicit CHeldFile(const std::wstring& path);

    bool IsHeld() const { return static_cast<bool>(m_File); }
    HANDLE Handle() const { return m_File.Get(); }
    const std::wstring& Path() const { return m_Path; }
    // The file's length, or -1 when it cannot be read.
    std::int64_t Size() const;
    // Hands every piece from the file's start to its end to sink, which may stop the read by returning
    // false; false when the read failed or was stopped.
    bool ReadAll(const std::function<bool(const BYTE*, DWORD)>& sink) const;
    // The whole file written to output; false on any failure.
    bool CopyTo(HANDLE output) const;
    void Release() { m_File.Reset(); }

private:
    System::Win32::CHandleHolder m_File;
    std::wstring m_Path;
};

} // namespace OV::Updater::Trust
