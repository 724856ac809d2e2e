#pragma once

#include "System/Object.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <cstdint>
#include <string>

namespace OV::System::Win32
{

// One open registry key named by a single path: a root name, long ("HKEY_LOCAL_MACHINE") or short
// ("HKLM"), a backslash and the subkey. A path of a root name alone wraps that root, which is never closed.
// Every failure throws CException naming the path; a missing value is not a failure for the reads.
class CRegistryKey : public CObject, public CNonCopyable
{
public:
    // openExisting: open for reading (a missing key throws); otherwise create or open with full access.
    // extraAccess is added to the access the mode implies (e.g. KEY_WOW64_64KEY).
    CRegistryKey(const std::wstring& path, bool openExisting, REGSAM extraAccess);
    ~CRegistryKey() override;

    // REG_SZ or REG_EXPAND_SZ, the latter returned as stored (unexpanded).
    std::wstring GetString(const std::wstring& name, const std::wstring& defaultValue) const;
    // REG_DWORD only.
    std::uint32_t GetUint32(const std::wstring& name, std::uint32_t defaultValue) const;
    // Writes REG_SZ with its terminating zero.
    void SetString(const std::wstring& name, const std::wstring& value);
    void SetUint32(const std::wstring& name, std::uint32_t value);
    // Writes REG_BINARY.
    void SetBinary(const std::wstring& name, const void* data, std::uint32_t size);
    // Never throws.
    bool ValueExists(const std::wstring& name) const;

    const std::wstring& GetPath() const { return m_Path; }
    bool IsPredefinedRoot() const { return m_IsPredefinedRoot; }
    // Borrowed.
    HKEY GetHandle() const { return m_Key.Get(); }

private:
    std::wstring ValuePath(const std::wstring& name) const { return m_Path + L"\\" + name; }

    std::wstring m_Path;
    bool m_IsPredefinedRoot = false;
    CRegistryKeyHandle m_Key;
};

// GetUint32 of the value under the key at path, opened for reading; any failure (missing key, wrong type,
// failed read) gives defaultValue.
std::uint32_t RegistryReadUint32(const std::wstring& path, const std::wstring& name,
                                 std::uint32_t defaultValue);
// RegistryReadUint32(...) != 0.
bool RegistryReadFlag(const std::wstring& path, const std::wstring& name, std::uint32_t defaultValue);
// A DWORD switch under HKLM\SOFTWARE\Orvane\Debugging; absent or of another type means off.
bool IsDebuggingFlagSet(const std::wstring& valueName);

} // namespace OV::System::Win32
