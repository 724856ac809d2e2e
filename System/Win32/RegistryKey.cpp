#include "System/Win32/RegistryKey.h"

#include "System/ErrorBoundary.h"

#include <algorithm>
#include <vector>

namespace OV::System::Win32
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Win32\\RegistryKey.cpp";

// The lines that the registry's error texts carry. A status-returning registry function does not set the
// last error: its status is recorded as the last error, so the description carries the system's text.
constexpr FixedPlace kUnknownRoot(45);
constexpr FixedPlace kOpenFailure(62);
constexpr FixedPlace kCreateFailure(71);
constexpr FixedPlace kStringReadFailure(271);
constexpr FixedPlace kStringTypeFailure(279);
constexpr FixedPlace kStringWriteFailure(303);
constexpr FixedPlace kUint32ReadFailure(325);
constexpr FixedPlace kUint32TypeFailure(333);

struct RootName
{
    const wchar_t* longForm;
    const wchar_t* shortForm;
    HKEY key;
};

const RootName kRoots[] = {
    {L"HKEY_LOCAL_MACHINE", L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKEY_CURRENT_USER", L"HKCU", HKEY_CURRENT_USER},
    {L"HKEY_CLASSES_ROOT", L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_CONFIG", L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_USERS", L"HKU", HKEY_USERS},
};

bool EqualsIgnoringCase(const std::wstring& text, const wchar_t* other)
{
    return ::CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), other, -1, TRUE) == CSTR_EQUAL;
}

HKEY FindRoot(const std::wstring& rootName)
{
    for (const RootName& root : kRoots)
    {
        if (EqualsIgnoringCase(rootName, root.longForm) || EqualsIgnoringCase(rootName, root.shortForm))
            return root.key;
    }
    return nullptr;
}

bool IsMissingValue(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED;
}

} // namespace

CRegistryKey::CRegistryKey(const std::wstring& path, bool openExisting, REGSAM extraAccess) : m_Path(path)
{
    const size_t separator = path.find(L'\\');
    const HKEY root = FindRoot(path.substr(0, separator));
    if (root == nullptr)
        OV_THROW_AT(kUnknownRoot, L"Base key in '" + path + L"'is not a predefined key.");

    if (separator == std::wstring::npos)
    {
        m_IsPredefinedRoot = true;
        m_Key.Reset(root);
        return;
    }

    const std::wstring subkey = path.substr(separator + 1);
    if (openExisting)
    {
        OV_THROW_WIN32_IF_AT(kOpenFailure,
                             ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | extraAccess, m_Key.Put()),
                             L"RegOpenKeyExW failure opening registry key '" + path + L"'.");
    }
    else
    {
        OV_THROW_WIN32_IF_AT(kCreateFailure,
                             ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_ALL_ACCESS | extraAccess, nullptr, m_Key.Put(), nullptr),
                             L"RegCreateKeyEx failure creating registry key '" + path + L"'.");
    }
}

CRegistryKey::~CRegistryKey()
{
    // A root key belongs to the system: closing it would close it for the whole process.
    if (m_IsPredefinedRoot)
        m_Key.Release();
}

std::wstring CRegistryKey::GetString(const std::wstring& name, const std::wstring& defaultValue) const
{
    DWORD type = REG_NONE;
    DWORD byteCount = 0;
    LSTATUS status = ::RegQueryValueExW(m_Key.Get(), name.c_str(), nullptr, &type, nullptr, &byteCount);
    std::vector<wchar_t> buffer;
    for (int call = 0; call < 2; ++call)
    {
        if (call == 1)
        {
            if (byteCount % 2 != 0)
                ++byteCount;
            buffer.assign(byteCount / 2, L'\0');
            status = ::RegQueryValueExW(m_Key.Get(), name.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer.data()), &byteCount);
        }
        if (IsMissingValue(status))
            return defaultValue;
        OV_THROW_WIN32_IF_AT(kStringReadFailure, status,
                             L"RegQueryValueEx failure reading registry value '" + ValuePath(name) + L"'.");
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            OV_THROW_AT(kStringTypeFailure, L"Unexpected type for registry value '" + ValuePath(name) +
                                                L"'. REG_SZ or REG_EXPAND_SZ expected.");
    }
    // The second call may report fewer bytes than the first (the value changed in between).
    buffer.resize(std::min<size_t>(buffer.size(), (byteCount + 1) / 2));
    if (!buffer.empty() && buffer.back() == L'\0')
        buffer.pop_back();
    return std::wstring(buffer.begin(), buffer.end());
}

std::uint32_t CRegistryKey::GetUint32(const std::wstring& name, std::uint32_t defaultValue) const
{
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD byteCount = sizeof(value);
    const LSTATUS status = ::RegQueryValueExW(m_Key.Get(), name.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &byteCount);
    if (IsMissingValue(status))
        return defaultValue;
    OV_THROW_WIN32_IF_AT(kUint32ReadFailure, status,
                         L"RegQueryValueEx failure reading registry value '" + ValuePath(name) + L"'.");
    if (type != REG_DWORD)
        OV_THROW_AT(kUint32TypeFailure,
                    L"Unexpected type for registry value '" + ValuePath(name) + L"'. REG_DWORD expected.");
    return value;
}

void CRegistryKey::SetString(const std::wstring& name, const std::wstring& value)
{
    const DWORD byteCount = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    OV_THROW_WIN32_IF_AT(kStringWriteFailure,
                         ::RegSetValueExW(m_Key.Get(), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(value.c_str()), byteCount),
                         L"RegSetValueEx failure writing registry value '" + ValuePath(name) + L"'.");
}

void CRegistryKey::SetUint32(const std::wstring& name, std::uint32_t value)
{
    const DWORD data = value;
    OV_THROW_WIN32_IF(::RegSetValueExW(m_Key.Get(), name.c_str(), 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&data), sizeof(data)),
                      L"RegSetValueEx failure writing registry value '" + ValuePath(name) + L"'.");
}

void CRegistryKey::SetBinary(const std::wstring& name, const void* data, std::uint32_t size)
{
    OV_THROW_WIN32_IF(
        ::RegSetValueExW(m_Key.Get(), name.c_str(), 0, REG_BINARY, static_cast<const BYTE*>(data), size),
        L"RegSetValueEx failure writing registry value '" + ValuePath(name) + L"'.");
}

bool CRegistryKey::ValueExists(const std::wstring& name) const
{
    DWORD type = REG_NONE;
    DWORD byteCount = 0;
    return ::RegQueryValueExW(m_Key.Get(), name.c_str(), nullptr, &type, nullptr, &byteCount) ==
           ERROR_SUCCESS;
}

std::uint32_t RegistryReadUint32(const std::wstring& path, const std::wstring& name,
                                 std::uint32_t defaultValue)
{
    try
    {
        const CRegistryKey key(path, true, 0);
        return key.GetUint32(name, defaultValue);
    }
    catch (...)
    {
        return defaultValue;
    }
}

bool RegistryReadFlag(const std::wstring& path, const std::wstring& name, std::uint32_t defaultValue)
{
    return RegistryReadUint32(path, name, defaultValue) != 0;
}

bool IsDebuggingFlagSet(const std::wstring& valueName)
{
    return RegistryReadFlag(L"HKLM\\SOFTWARE\\Orvane\\Debugging", valueName, 0);
}

} // namespace OV::System::Win32
