#include "TestSupport.h"

#include "System/Io/FilePath.h"
#include "System/String/AnsiWide.h"

#include <atomic>
#include <stdexcept>

namespace OV::Tests
{

using System::IO::CFilePath;
using System::Win32::CHandleHolder;

CHelperProcess::CHelperProcess(const std::wstring& arguments)
{
    // The test program lives in build/<arch>/tests/unit; the helper in build/<arch>/tools/ProcessHelper.
    const std::wstring buildFolder =
        CFilePath::GetParent(CFilePath::GetParent(CFilePath::GetModuleDirectory()));
    const std::wstring program = CFilePath::Combine(buildFolder, L"tools\\ProcessHelper\\ProcessHelper.exe");
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const CHandleHolder nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                                          nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info))
    {
        throw std::runtime_error("cannot start " + Utf16ToUtf8(program) + ", error " +
                                 std::to_string(::GetLastError()));
    }
    ::CloseHandle(info.hThread);
    m_Process.Reset(info.hProcess);
}

CHelperProcess::~CHelperProcess()
{
    if (::WaitForSingleObject(m_Process.Get(), 0) == WAIT_TIMEOUT)
    {
        ::TerminateProcess(m_Process.Get(), 99);
        ::WaitForSingleObject(m_Process.Get(), 10000);
    }
}

bool CHelperProcess::WaitForExit(DWORD timeoutMs)
{
    return ::WaitForSingleObject(m_Process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD CHelperProcess::GetExitCode() const
{
    DWORD code = 0;
    return ::GetExitCodeProcess(m_Process.Get(), &code) ? code : static_cast<DWORD>(-1);
}

std::wstring UniqueObjectName(const std::wstring& purpose)
{
    static std::atomic<unsigned> counter{0};
    return L"OVTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-" +
           purpose;
}

} // namespace OV::Tests
