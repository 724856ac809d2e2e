#include "System/SystemInfo.h"

#include "System/Io/FilePath.h"
#include "System/Win32/ComPtr.h"
#include "System/Win32/HandleHolder.h"

#include <netlistmgr.h>
#include <objbase.h>
#include <rpc.h>
#include <shlwapi.h>

#include <cstdio>

namespace OV::System
{

namespace
{

bool GetVersionInfo(OSVERSIONINFOEXW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
}

enum class NetworkState
{
    Unknown,
    None,
    LocalNetwork,
    Internet,
};

NetworkState QueryNetworkState()
{
    Win32::CComPtr<INetworkListManager> manager;
    if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                                  reinterpret_cast<void**>(manager.Put()))) ||
        !manager.IsValid())
        return NetworkState::Unknown;

    VARIANT_BOOL connected = VARIANT_FALSE;
    if (FAILED(manager.Get()->IsConnectedToInternet(&connected)))
        return NetworkState::Unknown;
    if (connected == VARIANT_TRUE)
        return NetworkState::Internet;

    constexpr int kLocalConnectivity = NLM_CONNECTIVITY_IPV4_SUBNET | NLM_CONNECTIVITY_IPV4_LOCALNETWORK |
                                       NLM_CONNECTIVITY_IPV6_SUBNET | NLM_CONNECTIVITY_IPV6_LOCALNETWORK;
    NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    if (SUCCEEDED(manager.Get()->GetConnectivity(&connectivity)) && (connectivity & kLocalConnectivity) != 0)
        return NetworkState::LocalNetwork;
    return NetworkState::None;
}

} // namespace

std::wstring GetOsVersionText()
{
    OSVERSIONINFOEXW info;
    if (!GetVersionInfo(info))
        return std::wstring();
    return std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) + L"." +
           std::to_wstring(info.dwBuildNumber) + L"." + std::to_wstring(info.wServicePackMajor) + L"." +
           std::to_wstring(info.wServicePackMinor);
}

std::wstring GetOsVersionShort()
{
    OSVERSIONINFOEXW info;
    if (!GetVersionInfo(info))
        return std::wstring();
    return std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
}

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

std::wstring GetUserCountryCode()
{
    const GEOID geo = ::GetUserGeoID(GEOCLASS_NATION);
    wchar_t buffer[260] = {};
    const int length = ::GetGeoInfoW(geo, GEO_ISO2, buffer, 259, ::GetUserDefaultUILanguage());
    if (length <= 0)
        return std::wstring();
    return std::wstring(buffer);
}

bool IsNetworkAvailable()
{
    try
    {
        const NetworkState state = QueryNetworkState();
        return state == NetworkState::Internet || state == NetworkState::LocalNetwork;
    }
    catch (...)
    {
        return false;
    }
}

bool GetComServerFolder(const CLSID& clsid, std::wstring& folder)
{
    folder.clear();
    Win32::CCoTaskMem<wchar_t> clsidText;
    if (FAILED(::StringFromCLSID(clsid, clsidText.Put())) || !clsidText.IsValid())
        return false;

    const std::wstring keyPath = std::wstring(L"CLSID\\") + clsidText.Get() + L"\\LocalServer32";
    Win32::CRegistryKeyHandle key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;

    // 520 bytes of value; the extra character keeps the text terminated whatever the value holds.
    wchar_t value[261] = {};
    DWORD type = 0;
    DWORD size = 520;
    if (::RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;

    // Only a text quoted as a whole loses its quotes; "C:\x\a.exe" -arg keeps them.
    ::PathUnquoteSpacesW(value);
    const std::wstring path(value);
    const size_t lastSeparator = path.rfind(L'\\');
    folder = lastSeparator == std::wstring::npos ? path : path.substr(0, lastSeparator);
    return true;
}

std::wstring NewGuidText()
{
    UUID uuid = {};
    ::UuidCreate(&uuid);
    char text[40] = {};
    std::snprintf(text, sizeof(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(uuid.Data1), uuid.Data2, uuid.Data3, uuid.Data4[0],
                  uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5], uuid.Data4[6],
                  uuid.Data4[7]);
    // Hexadecimal digits and dashes widen one to one.
    const std::string narrow(text);
    return std::wstring(narrow.begin(), narrow.end());
}

std::wstring GetModulePath()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring GetModuleDirectory()
{
    return IO::CFilePath::GetModuleDirectory();
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint64_t GetFileSize(const std::wstring& path)
{
    constexpr std::uint64_t kUnknown = ~std::uint64_t{0};
    // No access rights: a file another process holds open for writing can still be measured.
    const Win32::CHandleHolder file(::CreateFileW(path.c_str(), 0,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return kUnknown;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size))
        return kUnknown;
    return static_cast<std::uint64_t>(size.QuadPart);
}

} // namespace OV::System
