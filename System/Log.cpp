#include "System/Log.h"

#include "System/Io/Directory.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Win32/Thread.h"

#include <shlwapi.h>

#include <cstdio>

namespace OV::System
{

namespace
{

std::wstring DefaultLogFile()
{
    const std::wstring folder = IO::CFilePath::Combine(GetRoamingAppDataFolder(nullptr), L"Orvane\\Logs");
    IO::CDirectory::Create(folder, nullptr);
    wchar_t modulePath[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    const std::wstring module(modulePath, length);
    const size_t slash = module.rfind(L'\\');
    const std::wstring fileName = (slash == std::wstring::npos ? module : module.substr(slash + 1)) + L".log";
    return IO::CFilePath::Combine(folder, fileName);
}

} // namespace

std::wstring CLog::FormatHeaderTime(const SYSTEMTIME& utc)
{
    static const wchar_t* const kDays[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                             L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    wchar_t text[64] = {};
    std::swprintf(text, 64, L"%ls, %d %ls %4d %02d:%02d:%02d UT", kDays[utc.wDayOfWeek % 7], utc.wDay,
                  kMonths[(utc.wMonth + 11) % 12], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

CLog& CLog::Instance()
{
    // The first user creates the log and writes the default file's header; later users only fetch it.
    static CLog* const instance = []()
    {
        CLog* created = new CLog();
        created->_SetOutputFile(DefaultLogFile(), false);
        Win32::CThread::SetEndObserver(&CLog::RemoveThread);
        return created;
    }();
    return *instance;
}

void CLog::SetOutputFile(const std::wstring& path, bool deleteExisting)
{
    Instance()._SetOutputFile(path, deleteExisting);
}

std::wstring CLog::GetOutputFile()
{
    CLog& log = Instance();
    Win32::CCriticalSectionLock lock(log.m_Lock);
    return log.m_OutputFile;
}

void CLog::RemoveThread(std::uint32_t threadId)
{
    CLog& log = Instance();
    Win32::CCriticalSectionLock lock(log.m_Lock);
    log.m_Threads.erase(threadId);
}

void CLog::_SetOutputFile(const std::wstring& path, bool deleteExisting)
{
    ::OutputDebugStringW((L"CLog::_SetOutputFile() : " + path + L"\n").c_str());
    const std::wstring folder = IO::CFilePath::GetDirectoryName(path);
    if (!::PathFileExistsW(folder.c_str()))
        IO::CDirectory::CreateParentDirectory(path);

    Win32::CCriticalSectionLock lock(m_Lock);
    m_OutputFile = path;
    if (path.empty())
        return;
    if (deleteExisting)
        ::DeleteFileW(path.c_str());

    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    SYSTEMTIME utc = {};
    ::FileTimeToSystemTime(&now, &utc);
    const std::wstring header = std::wstring(80, L'-') + FormatHeaderTime(utc) + L"\n";

    if (FILE* file = ::_wfopen(path.c_str(), L"a"))
    {
        std::fputws(header.c_str(), file);
        std::fclose(file);
    }
}

} // namespace OV::System
