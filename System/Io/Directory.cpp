#include "System/Io/Directory.h"

#include "System/ErrorText.h"
#include "System/ErrorBoundary.h"
#include "System/Io/FilePath.h"
#include "System/Win32/HandleHolder.h"

namespace OV::System::IO
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Io\\Directory.cpp";

// The lines that the folder failures carry.
constexpr FixedPlace kExistsAsFile(62);
constexpr FixedPlace kAccessDenied(66);
constexpr FixedPlace kInvalidParameter(68);
constexpr FixedPlace kOtherCreateFailure(71);
constexpr FixedPlace kNoSuchFolder(290);
} // namespace

bool CDirectory::Exists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CDirectory::Create(const std::wstring& path, SECURITY_ATTRIBUTES* securityAttributes)
{
    for (;;)
    {
        CFilePath::ValidatePath(path);
        if (::CreateDirectoryW(path.c_str(), securityAttributes))
            return;
        const DWORD error = ::GetLastError();
        switch (error)
        {
        case ERROR_PATH_NOT_FOUND:
            // Create the missing parents first, then try this level again.
            Create(CFilePath::GetParent(path), securityAttributes);
            continue;
        case ERROR_ACCESS_DENIED:
            OV_THROW_AT(kAccessDenied, L"Create Failed.  Access Denied : " + path);
        case ERROR_INVALID_PARAMETER:
            OV_THROW_AT(kInvalidParameter, L"Create Failed.  Invalid Parameter : " + path);
        case ERROR_ALREADY_EXISTS:
        {
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                OV_THROW_AT(kExistsAsFile,
                            L"Cannot create the directory; it already exists as a file: \"" + path + L"\"");
            return;
        }
        default:
            OV_THROW_AT(kOtherCreateFailure, GetErrorText(error));
        }
    }
}

void CDirectory::CreateParentDirectory(const std::wstring& filePath)
{
    const std::wstring parent = CFilePath::GetParent(filePath);
    if (!Exists(parent))
        Create(parent, nullptr);
}

std::vector<std::wstring> CDirectory::GetFiles(const std::wstring& folder, const std::wstring& pattern)
{
    if (!Exists(folder))
        OV_THROW_AT(kNoSuchFolder, L"Directory does not exist" + folder);

    std::wstring search = folder;
    if (search.empty() || !CFilePath::IsSeparator(search.back()))
        search += L"\\";
    search += pattern;

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    Win32::CFindHandle find(::FindFirstFileW(search.c_str(), &found));
    if (!find)
        return names;
    do
    {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back(found.cFileName);
    } while (::FindNextFileW(find.Get(), &found));
    return names;
}

} // namespace OV::System::IO
