#include "System/KnownFolders.h"

#include "System/Io/FilePath.h"
#include "System/Win32/ComPtr.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace OV::System
{

namespace
{

std::wstring GetKnownFolder(REFKNOWNFOLDERID id, HANDLE token)
{
    Win32::CCoTaskMem<wchar_t> path;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, token, path.Put());
    return SUCCEEDED(result) && path ? std::wstring(path.Get()) : std::wstring();
}

} // namespace

std::wstring GetRoamingAppDataFolder(HANDLE token)
{
    return GetKnownFolder(FOLDERID_RoamingAppData, token);
}

std::wstring GetProgramDataFolder()
{
    return GetKnownFolder(FOLDERID_ProgramData, nullptr);
}

std::wstring GetProgramFilesX86Folder()
{
    return GetKnownFolder(FOLDERID_ProgramFilesX86, nullptr);
}

std::wstring GetMakerFolder(int index)
{
    switch (index)
    {
    case 0:
        return L"Orvane";
    case 1:
        return L"Orvane\\Orvane Games\\App";
    case 2:
        return L"Orvane\\Orvane Games\\Integration";
    default:
        return std::wstring();
    }
}

std::wstring GetMakerFolderUnder(const std::wstring& base, int index)
{
    return IO::CFilePath::Combine(base, GetMakerFolder(index));
}

} // namespace OV::System
