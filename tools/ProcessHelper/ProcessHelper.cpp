// A second process for the tests: it abandons or signals named objects that the test process then waits
// for, races a file, or calls the elevation service. It uses the plain Win32 calls, not the classes under
// test.
//
//   ProcessHelper.exe abandon-mutex <mutex>
//       Takes the named mutex (waits up to 10 s for it) and exits without releasing it: the mutex is
//       abandoned.
//   ProcessHelper.exe set-event <event>
//       Opens (or creates) the named event and sets it.
//   ProcessHelper.exe replace-file <target> <source> <ms>
//       Once target exists, tries to overwrite it with source until that works or <ms> have passed.
//   ProcessHelper.exe call-service
//       Calls the elevation service's launch operation the way any program of the user could. What it asks
//       for comes from the environment, exactly (quotes included): OV_CALL_FILE, OV_CALL_PARAMETERS and
//       OV_CALL_PID (the process id: "self", the default, is this process, "parent" the one that started
//       it); OV_CALL_REPLACE, optional, is copied over the named file right after the call returns. Prints
//       "caller-elevated: 0|1", "hresult: 0xXXXXXXXX", and for a returned handle "process-id: N" and,
//       once that process has ended (at most 60 s), "started-exit-code: N".
//
// Exit codes: 0 done, 2 time-out, 3 a system call failed, 1 bad usage.
#include "System/Platform.h"
#include "System/Win32/Elevation.h"
#include "System/Win32/HandleHolder.h"
#include "Updater/ElevationClient.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using OV::System::Win32::CHandleHolder;

namespace
{

constexpr int kDone = 0;
constexpr int kUsage = 1;
constexpr int kTimeout = 2;
constexpr int kFailed = 3;
constexpr DWORD kTakeTimeoutMs = 10000;

using Arguments = std::vector<std::wstring>;

bool ParseMilliseconds(const std::wstring& text, DWORD& value)
{
    wchar_t* end = nullptr;
    const unsigned long parsed = std::wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0')
        return false;
    value = static_cast<DWORD>(parsed);
    return true;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "%s failed: error %lu\n", what, ::GetLastError());
    return kFailed;
}

CHandleHolder OpenEvent(const std::wstring& name)
{
    // Manual reset, as the tests create theirs; an existing event keeps its own mode.
    return CHandleHolder(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
}

int TakeMutex(const std::wstring& name, CHandleHolder& mutex)
{
    mutex.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex)
        return Fail("CreateMutexW");
    const DWORD result = ::WaitForSingleObject(mutex.Get(), kTakeTimeoutMs);
    if (result == WAIT_TIMEOUT)
        return kTimeout;
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return Fail("WaitForSingleObject");
    return kDone;
}

int AbandonMutex(const Arguments& arguments)
{
    if (arguments.size() != 1)
        return kUsage;
    CHandleHolder mutex;
    if (const int taken = TakeMutex(arguments[0], mutex); taken != kDone)
        return taken;
    // Ending the process while it owns the mutex is what abandons it.
    ::ExitProcess(kDone);
}

int SetEventCommand(const Arguments& arguments)
{
    if (arguments.size() != 1)
        return kUsage;
    const CHandleHolder event = OpenEvent(arguments[0]);
    if (!event)
        return Fail("CreateEventW");
    if (!::SetEvent(event.Get()))
        return Fail("SetEvent");
    return kDone;
}

// Waits for target to appear, lets its writer reach it, then tries to overwrite it with source every 10 ms
// until that works or <ms> have passed. Prints "refused: N" (attempts another process's sharing turned
// away) and "replaced: 0|1".
int ReplaceFile(const Arguments& arguments)
{
    DWORD waitMs = 0;
    if (arguments.size() != 3 || !ParseMilliseconds(arguments[2], waitMs))
        return kUsage;
    const std::wstring& target = arguments[0];
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    while (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES && ::GetTickCount64() < deadline)
        ::Sleep(5);
    ::Sleep(50);
    unsigned refused = 0;
    bool replaced = false;
    while (!replaced && ::GetTickCount64() < deadline)
    {
        replaced = ::CopyFileW(arguments[1].c_str(), target.c_str(), FALSE) != FALSE;
        if (!replaced && ::GetLastError() == ERROR_SHARING_VIOLATION)
            ++refused;
        if (!replaced)
            ::Sleep(10);
    }
    std::printf("refused: %u\nreplaced: %d\n", refused, replaced ? 1 : 0);
    return kDone;
}

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

// Calls the elevation service's launch operation as any program of the user could (see the top).
int CallService()
{
    std::printf("caller-elevated: %d\n", OV::System::Win32::IsProcessElevated(nullptr) ? 1 : 0);
    if (FAILED(::CoInitialize(nullptr)))
        return kFailed;
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
    return kDone;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc >= 2 ? argv[1] : L"";
    const Arguments arguments(argv + std::min(argc, 2), argv + argc);
    int result = kUsage;
    if (command == L"abandon-mutex")
        result = AbandonMutex(arguments);
    else if (command == L"set-event")
        result = SetEventCommand(arguments);
    else if (command == L"replace-file")
        result = ReplaceFile(arguments);
    else if (command == L"call-service")
        result = CallService();
    if (result == kUsage)
        std::fputs("usage: ProcessHelper.exe abandon-mutex|set-event|replace-file|call-service ...; see its "
                   "source\n",
                   stderr);
    return result;
}
