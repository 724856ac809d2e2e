#include "Updater/Trust/ProtectedFolder.h"

#include "System/Io/Directory.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"

#include <aclapi.h>
#include <sddl.h>

namespace OV::Updater::Trust
{
namespace
{

// Owned by Administrators; SYSTEM and Administrators may do anything, users may read and run; nothing
// inherited from %ProgramData%, where every user may create folders.
const wchar_t kProtectedSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

struct SecurityDescriptor
{
    System::Win32::CUniqueHandle<System::Win32::LocalMemoryTraits> memory;
    PSECURITY_DESCRIPTOR Get() const { return memory.Get(); }
};

SecurityDescriptor ProtectedDescriptor()
{
    SecurityDescriptor descriptor;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedSddl, SDDL_REVISION_1, &made,
                                                               nullptr))
        descriptor.memory.Reset(made);
    return descriptor;
}

bool IsLink(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A folder on the way that a user made before us would keep that user as its owner, free to change
// what is inside: it is taken over and locked down again, and a link there is refused outright.
bool SecureFolder(const std::wstring& path, const SecurityDescriptor& descriptor)
{
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(path.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    if (IsLink(path))
        return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted))
        return false;
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Another process may be filling a young folder right now: only older ones are swept.
bool IsOlderThanAFewMinutes(const FILETIME& created)
{
    constexpr ULONGLONG kFewMinutes = 5ULL * 60 * 10000000; // in 100 ns units
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG nowTicks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const ULONGLONG createdTicks =
        (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return nowTicks > createdTicks && nowTicks - createdTicks > kFewMinutes;
}

} // namespace

void CProtectedFolder::Remove(const std::wstring& folder)
{
    if (IsLink(folder))
        return;
    for (const std::wstring& name : System::IO::CDirectory::GetFiles(folder, L"*"))
        ::DeleteFileW((folder + L"\\" + name).c_str());
    ::RemoveDirectoryW(folder.c_str());
}

std::wstring CProtectedFolder::SecureBaseFolder()
{
    const std::wstring programData = System::GetProgramDataFolder();
    const SecurityDescriptor descriptor = ProtectedDescriptor();
    if (programData.empty() || !descriptor.Get())
        return L"";
    const std::wstring maker = programData + L"\\Orvane";
    ::CreateDirectoryW(maker.c_str(), nullptr);
    const std::wstring base = maker + L"\\Protected";
    if (IsLink(maker) || !SecureFolder(base, descriptor))
        return L"";
    return base;
}

bool CProtectedFolder::Create()
{
    m_Path.clear();
    const std::wstring base = SecureBaseFolder();
    const SecurityDescriptor descriptor = ProtectedDescriptor();
    if (base.empty() || !descriptor.Get())
        return false;

    WIN32_FIND_DATAW found{};
    System::Win32::CUniqueHandle<System::Win32::FindHandleTraits> search(
        ::FindFirstFileW((base + L"\\{*}").c_str(), &found));
    if (search)
    {
        do
        {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                IsOlderThanAFewMinutes(found.ftCreationTime))
                Remove(base + L"\\" + found.cFileName);
        } while (::FindNextFileW(search.Get(), &found));
    }

    // A fresh name: the folder must be new, never one that someone prepared.
    const std::wstring folder = base + L"\\{" + System::NewGuidText() + L"}";
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(folder.c_str(), &attributes))
        return false;
    m_Path = folder;
    return true;
}

bool CProtectedFolder::Stage(const CHeldFile& source, const std::wstring& name, CHeldFile& copy) const
{
    if (m_Path.empty() || !source.IsHeld())
        return false;
    const std::wstring path = m_Path + L"\\" + name;
    {
        System::Win32::CHandleHolder output(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output || !source.CopyTo(output.Get()))
            return false;
    }
    // Held again for reading only: the program's start needs to open it, and nobody else may write.
    copy = CHeldFile(path);
    return copy.IsHeld();
}

} // namespace OV::Updater::Trust
