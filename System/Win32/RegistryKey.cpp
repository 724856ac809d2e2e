#include "System/Win32/RegistryKey.h"

#include "System/Exception.h"

#include <algorithm>
#include <vector>

namespace OV::System::Win32
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Win32\\RegistryKey.cpp";
constexpr char kConstructor[] = "OV::System::Win32::CRegistryKey::CRegistryKey";
constexpr char kGetString[] = "OV::System::Win32::CRegistryKey::GetString";
constexpr char kGetUint32[] = "OV::System::Win32::CRegistryKey::GetUint32";

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

// The registry functions return their status instead of setting the last error; recording it as the last
// error puts the system's text for it into the exception's description.
[[noreturn]] void ThrowRegistryFailure(LSTATUS status, int line, const char* function,
                                       const std::wstring& message)
{
    ::SetLastError(static_cast<DWORD>(status));
    throw CException(kSource, line, function, std::wstring_view(message));
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
        throw CException(kSource, 45, kConstructor, L"Base key in '" + path + L"'is not a predefined key.");

    if (separator == std::wstring::npos)
    {
        m_IsPredefinedRoot = true;
        m_Key.Reset(root);
        return;
    }

    const std::wstring subkey = path.substr(separator + 1);
    if (openExisting)
    {
        const LSTATUS status = ::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | extraAccess, m_Key.Put());
        if (status != ERROR_SUCCESS)
            ThrowRegistryFailure(status, 62, kConstructor,
                                 L"RegOpenKeyExW failure opening registry key '" + path + L"'.");
    }
    else
    {
        const LSTATUS status = ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS | extraAccess, nullptr, m_Key.Put(), nullptr);
        if (status != ERROR_SUCCESS)
            ThrowRegistryFailure(status, 71, kConstructor,
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
        if (status != ERROR_SUCCESS)
            ThrowRegistryFailure(status, 271, kGetString,
                                 L"RegQueryValueEx failure reading registry value '" + ValuePath(name) +
                                     L"'.");
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw CException(kSource, 279, kGetString,
                             L"Unexpected type for registry value '" + ValuePath(name) +
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
    if (status != ERROR_SUCCESS)
        ThrowRegistryFailure(status, 325, kGetUint32,
                             L"RegQueryValueEx failure reading registry value '" + ValuePath(name) + L"'.");
    if (type != REG_DWORD)
        throw CException(kSource, 333, kGetUint32,
                         L"Unexpected type for registry value '" + ValuePath(name) +
                             L"'. REG_DWORD expected.");
    return value;
}

void CRegistryKey::SetString(const std::wstring& name, const std::wstring& value)
{
    const DWORD byteCount = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = ::RegSetValueExW(m_Key.Get(), name.c_str(), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(value.c_str()), byteCount);
    if (status != ERROR_SUCCESS)
        ThrowRegistryFailure(status, 303, "OV::System::Win32::CRegistryKey::SetString",
                             L"RegSetValueEx failure writing registry value '" + ValuePath(name) + L"'.");
}

void CRegistryKey::SetUint32(const std::wstring& name, std::uint32_t value)
{
    const DWORD data = value;
    const LSTATUS status = ::RegSetValueExW(m_Key.Get(), name.c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&data), sizeof(data));
    if (status != ERROR_SUCCESS)
        ThrowRegistryFailure(status, __LINE__, "OV::System::Win32::CRegistryKey::SetUint32",
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
