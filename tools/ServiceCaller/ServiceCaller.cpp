// Calls the elevation service's launch operation the way any program of the user could, for the tests.
// What it asks for comes from the environment, exactly (quotes included):
//   OV_CALL_FILE        the file argument
//   OV_CALL_PARAMETERS  the parameters argument
//   OV_CALL_PID         the process id argument; "self" (the default) is this process, "parent" the one
//                       that started it (tools/Launch, elevated)
//   OV_CALL_REPLACE    optional: a file copied over the named file right after the call returns
// Prints "caller-elevated: 0|1", "hresult: 0xXXXXXXXX", and for a returned handle "process-id: N" and,
// once that process has ended (at most 60 s), "started-exit-code: N". Exit code 0 when it could call.
#include "System/Platform.h"
#include "System/Win32/Elevation.h"
#include "System/Win32/HandleHolder.h"
#include "Updater/ElevationClient.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace
{

std::wstring Variable(const wchar_t* name, const wchar_t* fallback)
{
    wchar_t value[32768] = {};
    return ::GetEnvironmentVariableW(name, value, 32768) > 0 ? value : fallback;
}

DWORD ParentProcessId()
{
    const OV::System::Win32::CHandleHolder snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry))
    {
        if (entry.th32ProcessID == ::GetCurrentProcessId())
            return entry.th32ParentProcessID;
    }
    return 0;
}

DWORD NamedProcessId()
{
    const std::wstring pid = Variable(L"OV_CALL_PID", L"self");
    if (pid == L"self")
        return ::GetCurrentProcessId();
    return pid == L"parent" ? ParentProcessId() : std::wcstoul(pid.c_str(), nullptr, 10);
}

} // namespace

int wmain()
{
    std::printf("caller-elevated: %d\n", OV::System::Win32::IsProcessElevated(nullptr) ? 1 : 0);
    if (FAILED(::CoInitialize(nullptr)))
        return 1;
    OV::Updater::IOVElevationService* service = nullptr;
    HRESULT result =
        ::CoCreateInstance(OV::Updater::kElevationServiceClass, nullptr, CLSCTX_ALL,
                           OV::Updater::kElevationServiceInterface, reinterpret_cast<void**>(&service));
    ULONG processHandle = 0;
    if (SUCCEEDED(result))
    {
        BSTR file = ::SysAllocString(Variable(L"OV_CALL_FILE", L"").c_str());
        BSTR parameters = ::SysAllocString(Variable(L"OV_CALL_PARAMETERS", L"").c_str());
        BSTR folder = ::SysAllocString(L"C:\\");
        ULONG second = 0;
        result =
            service->LaunchProcess(NamedProcessId(), file, parameters, folder, 0, 0, &processHandle, &second);
        const std::wstring replacement = Variable(L"OV_CALL_REPLACE", L"");
        if (!replacement.empty())
        {
            std::wstring target = Variable(L"OV_CALL_FILE", L"");
            target.erase(std::remove(target.begin(), target.end(), L'"'), target.end());
            std::printf("replaced: %d\n", ::CopyFileW(replacement.c_str(), target.c_str(), FALSE) ? 1 : 0);
        }
        ::SysFreeString(file);
        ::SysFreeString(parameters);
        ::SysFreeString(folder);
        service->Release();
    }
    std::printf("hresult: 0x%08lX\n", static_cast<unsigned long>(result));
    if (processHandle != 0)
    {
        const OV::System::Win32::CHandleHolder process(
            reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processHandle)));
        std::printf("process-id: %lu\n", ::GetProcessId(process.Get()));
        DWORD exitCode = 0;
        if (::WaitForSingleObject(process.Get(), 60000) == WAIT_OBJECT_0 &&
            ::GetExitCodeProcess(process.Get(), &exitCode))
            std::printf("started-exit-code: %lu\n", exitCode);
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return 0;
}
