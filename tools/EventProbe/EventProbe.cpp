// Test helper: watches the three decision events of one product and reports the order in which they
// are set, for the end-to-end tests of the update run.
//
//   EventProbe.exe watch <product> <stop-event-name> [timeout-ms]
//   EventProbe.exe stop <stop-event-name>
//
// "watch" creates or opens the events (automatic-reset, as the run creates them) before the run starts,
// so that the run opens ours and no signal is lost, prints "ready", then prints "set <Name>" for each
// signal as it consumes it. It ends when its own stop event is set ("stopped") or after the time limit
// ("timeout", default 120 s); signals still pending at that moment are reported first.
// One thread waits on all three at once: the kernel consumes an automatic-reset event for the waiter at
// the moment it is set, so two signals in a row are reported in the order they were given.
// "stop" sets the stop event of a running watcher; it exits with 1 when there is none.
#include "System/Platform.h"
#include "ToolArgs.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using OV::System::Win32::CHandleHolder;

using OV::Tools::PrintLine;

namespace
{

constexpr DWORD kDefaultTimeoutMs = 120000;
constexpr int kDecisionCount = 3;

struct DecisionEvent
{
    const wchar_t* prefix;
    const char* name;
};

// Named as the run names them: a fixed text followed by the product.
constexpr DecisionEvent kDecisionEvents[kDecisionCount] = {
    {L"{FCBD3DBA-DB17-4EC5-999E-5CF45A722924}-UpdateNo-", "UpdateNo"},
    {L"{FCBD3DBA-DB17-4EC5-999E-5CF45A722924}-UpdateYes-", "UpdateYes"},
    {L"{F7960AE2-D719-4F0D-9A10-B207F8DACB24}-UpdateDeny-", "UpdateDeny"},
};

int Fail(const std::string& what)
{
    PrintLine("error: " + what + " failed with " + std::to_string(::GetLastError()));
    return 2;
}

// Reports every decision event that is signalled right now, consuming each signal.
void ReportPending(const HANDLE* decisions)
{
    for (;;)
    {
        const DWORD result = ::WaitForMultipleObjects(kDecisionCount, decisions, FALSE, 0);
        if (result >= WAIT_OBJECT_0 + kDecisionCount)
            return;
        PrintLine(std::string("set ") + kDecisionEvents[result - WAIT_OBJECT_0].name);
    }
}

int Watch(const std::wstring& product, const std::wstring& stopName, DWORD timeoutMs)
{
    CHandleHolder decisions[kDecisionCount];
    for (int i = 0; i < kDecisionCount; ++i)
    {
        const std::wstring name = kDecisionEvents[i].prefix + product;
        decisions[i].Reset(::CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
        if (!decisions[i].IsValid())
            return Fail(std::string("CreateEventW ") + kDecisionEvents[i].name);
    }
    CHandleHolder stop(::CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!stop.IsValid())
        return Fail("CreateEventW stop");

    // Index 0 is the stop event so that a stop is seen even while signals keep coming.
    HANDLE waited[kDecisionCount + 1] = {stop.Get()};
    for (int i = 0; i < kDecisionCount; ++i)
        waited[i + 1] = decisions[i].Get();
    PrintLine("ready");

    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;)
    {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD result = ::WaitForMultipleObjects(kDecisionCount + 1, waited, FALSE, left);
        if (result > WAIT_OBJECT_0 && result <= WAIT_OBJECT_0 + kDecisionCount)
        {
            PrintLine(std::string("set ") + kDecisionEvents[result - WAIT_OBJECT_0 - 1].name);
            continue;
        }
        ReportPending(waited + 1);
        if (result == WAIT_OBJECT_0)
        {
            PrintLine("stopped");
            return 0;
        }
        if (result == WAIT_TIMEOUT)
        {
            PrintLine("timeout");
            return 0;
        }
        return Fail("WaitForMultipleObjects");
    }
}

int Usage()
{
    PrintLine("usage: EventProbe watch <product> <stop-event-name> [timeout-ms] | stop <stop-event-name>");
    return 2;
}

int Stop(const std::wstring& stopName)
{
    CHandleHolder stop(::OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName.c_str()));
    if (!stop.IsValid())
    {
        PrintLine("error: no watcher for " + OV::Utf16ToUtf8(stopName));
        return 1;
    }
    if (!::SetEvent(stop.Get()))
        return Fail("SetEvent");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    if (command == L"watch" && (argc == 4 || argc == 5))
    {
        const DWORD timeoutMs =
            argc == 5 ? static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)) : kDefaultTimeoutMs;
        return Watch(argv[2], argv[3], timeoutMs);
    }
    if (command == L"stop" && argc == 3)
        return Stop(argv[2]);
    return Usage();
}
