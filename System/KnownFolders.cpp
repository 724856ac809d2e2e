#include "System/KnownFolders.h"

#include "System/Io/FilePath.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace OV::System
{

namespace
{

std::wstring GetKnownFolder(REFKNOWNFOLDERID id, HANDLE token)
{
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, token, &path);
    std::wstring folder;
    if (SUCCEEDED(result) && path != nullptr)
        folder = path;
    ::CoTaskMemFree(path);
    return folder;
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
