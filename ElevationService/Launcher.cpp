#include "Launcher.h"

#include "CallerCheck.h"

#include "System/LogLine.h"
#include "System/SystemInfo.h"
#include "Updater/Trust/ExecutablePath.h"
#include "Updater/Trust/FileSignature.h"
#include "Updater/Trust/HeldFile.h"
#include "Updater/Trust/ProtectedFolder.h"

#include <cwchar>

namespace OV::ElevationService
{
namespace
{

using Updater::Trust::CHeldFile;
using Updater::Trust::CProtectedFolder;

// Larger than any installer of ours; a bigger file is not worth copying into a protected folder.
constexpr std::int64_t kMostProgramBytes = 1024LL * 1024 * 1024;
// Longer than any command line an installer of ours takes, shorter than Windows' limit.
constexpr std::size_t kMostParameterCharacters = 16384;
const wchar_t kParkPrefix[] = L"/park=\"";

std::wstring Unquote(const wchar_t* text)
{
    std::wstring value = text != nullptr ? text : L"";
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
    return value;
}

std::wstring FileNameOf(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

bool HasControlCharacters(const std::wstring& text)
{
    for (const wchar_t c : text)
    {
        if (c < 0x20)
            return true;
    }
    return false;
}

// Opens a program the caller named, as the caller (the thread impersonates it): the service must not
// read for anyone what that one could not read. Empty text when it is a plain local program file.
std::wstring OpenCallersProgram(const std::wstring& path, CHeldFile& file)
{
    if (!Updater::Trust::IsPlainLocalExecutablePath(path))
        return L"not a plain local .exe file: " + path;
    file = CHeldFile(path);
    if (!file.IsHeld())
        return L"the caller cannot open " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
    if (::GetFileType(file.Handle()) != FILE_TYPE_DISK)
        return L"not a file on a disk: " + path;
    const std::int64_t size = file.Size();
    if (size <= 0 || size > kMostProgramBytes)
        return L"size out of bounds (" + std::to_wstring(size) + L" bytes): " + path;
    return L"";
}

// Copies a program into the protected folder and verifies the copy there; empty text when it is the
// maker's.
std::wstring StageVerified(const CProtectedFolder& folder, const CHeldFile& source, CHeldFile& copy)
{
    if (!folder.Stage(source, FileNameOf(source.Path()), copy))
        return L"cannot copy " + source.Path() + L" into the protected folder";
    if (!Updater::Trust::IsHeldFileOrvaneSigned(copy))
        return L"not signed by the maker: " + source.Path();
    return L"";
}

// The service's own token, moved into the caller's session: the installer runs as the service but shows
// its windows on the caller's desktop. Where the session cannot be changed (Wine has one), the token is
// used as it is.
System::Win32::CHandleHolder TokenForCallersDesktop(DWORD callerProcessId)
{
    System::Win32::CHandleHolder own;
    System::Win32::CHandleHolder primary;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE, own.Put()) ||
        !::DuplicateTokenEx(own.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                            primary.Put()))
        return System::Win32::CHandleHolder();
    DWORD session = 0;
    if (::ProcessIdToSessionId(callerProcessId, &session))
        ::SetTokenInformation(primary.Get(), TokenSessionId, &session, sizeof(session));
    return primary;
}

} // namespace

bool FindParkParameter(const std::wstring& parameters, ParkParameter& park)
{
    park = ParkParameter();
    for (std::size_t at = parameters.find(kParkPrefix); at != std::wstring::npos;
         at = parameters.find(kParkPrefix, at + 1))
    {
        if (at != 0 && parameters[at - 1] != L' ')
            continue;
        if (park.found)
            return false;
        const std::size_t start = at + std::char_traits<wchar_t>::length(kParkPrefix);
        const std::size_t end = parameters.find(L'"', start);
        if (end == std::wstring::npos)
            return false;
        park.found = true;
        park.valueStart = start;
        park.valueLength = end - start;
    }
    return true;
}

CLauncher& CLauncher::Instance()
{
    static CLauncher launcher;
    return launcher;
}

void CLauncher::Log(const std::wstring& line)
{
    const std::wstring folder = CProtectedFolder::SecureBaseFolder();
    if (!folder.empty())
        System::AppendLogLine(folder + L"\\ElevationService.log", line);
}

HRESULT CLauncher::Refuse(const std::wstring& reason)
{
    Log(L"refused: " + reason);
    return E_ACCESSDENIED;
}

HRESULT CLauncher::Launch(DWORD callerProcessId, const wchar_t* file, const wchar_t* parameterText,
                          ULONG* processHandle)
{
    std::wstring parameters = parameterText != nullptr ? parameterText : L"";
    if (parameters.size() > kMostParameterCharacters || HasControlCharacters(parameters))
        return Refuse(L"parameters too long or with control characters");
    ParkParameter park;
    if (!FindParkParameter(parameters, park))
        return Refuse(L"more than one or an unterminated /park= parameter");

    // Everything the caller names is looked at as the caller.
    CImpersonation impersonation;
    if (!impersonation.IsActive())
    {
        wchar_t code[16] = {};
        std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(impersonation.Result()));
        return Refuse(std::wstring(L"the caller cannot be impersonated (") + code + L")");
    }
    Caller caller;
    std::wstring reason = CheckCaller(callerProcessId, caller);
    CHeldFile installerSource;
    CHeldFile parkSource;
    if (reason.empty())
        reason = OpenCallersProgram(Unquote(file), installerSource);
    if (reason.empty() && park.found)
        reason = OpenCallersProgram(parameters.substr(park.valueStart, park.valueLength), parkSource);
    impersonation.End();
    if (!reason.empty())
        return Refuse(reason);
    if (park.found && FileNameOf(parkSource.Path()) == FileNameOf(installerSource.Path()))
        return Refuse(L"the parking program and the program have the same name");

    CProtectedFolder folder;
    if (!folder.Create())
        return Refuse(L"the protected folder cannot be made");
    CHeldFile installer;
    CHeldFile parking;
    reason = StageVerified(folder, installerSource, installer);
    if (reason.empty() && park.found)
        reason = StageVerified(folder, parkSource, parking);
    if (!reason.empty())
    {
        installer.Release();
        parking.Release();
        CProtectedFolder::Remove(folder.Path());
        return Refuse(reason);
    }
    // The installer learns of the protected copy only, never of the file the caller can still change.
    if (park.found)
        parameters.replace(park.valueStart, park.valueLength, parking.Path());

    std::wstring commandLine = L"\"" + installer.Path() + L"\" " + parameters;
    const System::Win32::CHandleHolder token = TokenForCallersDesktop(callerProcessId);
    if (!token)
        return Refuse(L"the service's token cannot be duplicated");
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessAsUserW(token.Get(), installer.Path().c_str(), commandLine.data(), nullptr, nullptr,
                                FALSE, 0, nullptr, folder.Path().c_str(), &startup, &started))
        return Refuse(L"CreateProcessAsUserW failed with error " + std::to_wstring(::GetLastError()));
    System::Win32::CHandleHolder process(started.hProcess);
    System::Win32::CHandleHolder thread(started.hThread);
    installer.Release();
    parking.Release();

    // The handle must be valid in the caller's process, not ours. Handle values fit in 32 bits.
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), process.Get(), caller.process.Get(), &duplicate,
                           SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0))
        Log(L"the handle could not be given to process " + std::to_wstring(callerProcessId));
    *processHandle = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(duplicate));
    Log(L"started " + commandLine + L" (process " + std::to_wstring(started.dwProcessId) + L") for process " +
        std::to_wstring(callerProcessId));

    System::Win32::CCriticalSectionLock lock(m_Lock);
    m_Started.push_back(Started{std::move(process), folder.Path()});
    return duplicate != nullptr ? S_OK : E_FAIL;
}

bool CLauncher::RemoveEndedLaunches()
{
    System::Win32::CCriticalSectionLock lock(m_Lock);
    for (auto it = m_Started.begin(); it != m_Started.end();)
    {
        if (::WaitForSingleObject(it->process.Get(), 0) == WAIT_TIMEOUT)
        {
            ++it;
            continue;
        }
        CProtectedFolder::Remove(it->folder);
        it = m_Started.erase(it);
    }
    return !m_Started.empty();
}

} // namespace OV::ElevationService
