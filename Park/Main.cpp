// Park.exe, the parking program: restarts the games client after the installer has run.
//
//   Park.exe /Execute "<client exe>" /LaunchParams "<parameters>" /EventTerminate "<name>" /EventExecute
//   "<name>"
//       waits for one of the two named events: on the execute event it starts the client with its
//       parameters; on the terminate event it ends without starting anything.
//   Park.exe /EventTerminate "<name>" /SignalTerminate
//       sets the terminate event, so that a waiting parking program ends quietly.
//
// Each step is appended to %APPDATA%\Orvane\Logs\Park.log.
#include "System/LogLine.h"
#include "System/KnownFolders.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/ShellStart.h"

#include <shellapi.h>

#include <cstdio>
#include <map>
#include <string>

using OV::System::Win32::CHandleHolder;

namespace
{

// Longer than any installer takes; a parking program never outlives that.
constexpr DWORD kMaximumWaitMs = 4 * 60 * 60 * 1000;

void Log(const std::wstring& line)
{
    OV::System::AppendLogLine(OV::System::GetRoamingAppDataFolder(nullptr) + L"\\Orvane\\Logs\\Park.log",
                              line);
}

bool TakesValue(const std::wstring& name)
{
    return name == L"/execute" || name == L"/launchparams" || name == L"/eventterminate" ||
           name == L"/eventexecute";
}

// "/Name value" pairs and "/Flag" switches, names compared without regard to case. A named option always
// takes the next argument as its value: the launch parameters themselves begin with a slash.
std::map<std::wstring, std::wstring> ParseArguments()
{
    std::map<std::wstring, std::wstring> options;
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr)
        return options;
    const OV::System::Win32::CLocalMemory owner(arguments);
    for (int i = 1; i < count; ++i)
    {
        std::wstring name = arguments[i];
        if (name.empty() || name[0] != L'/')
            continue;
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(::towlower(c));
        const bool hasValue = TakesValue(name) && i + 1 < count;
        options[name] = hasValue ? arguments[++i] : L"";
    }
    return options;
}

int SignalTerminate(const std::wstring& name)
{
    CHandleHolder event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (!event)
    {
        Log(L"no parking program waits on " + name);
        return 0;
    }
    ::SetEvent(event.Get());
    Log(L"signalled " + name);
    return 0;
}

int StartClient(const std::wstring& client, const std::wstring& parameters)
{
    if (!OV::System::Win32::ShellStart(client, parameters, L"", SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI))
    {
        Log(L"starting the client failed with error " + std::to_wstring(::GetLastError()));
        return 3;
    }
    Log(L"started the client " + client + L" " + parameters);
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Log(std::wstring(L"started: ") + ::GetCommandLineW());
    std::map<std::wstring, std::wstring> options = ParseArguments();
    const std::wstring terminateName = options[L"/eventterminate"];
    if (options.count(L"/signalterminate") != 0)
        return terminateName.empty() ? 2 : SignalTerminate(terminateName);

    const std::wstring client = options[L"/execute"];
    const std::wstring executeName = options[L"/eventexecute"];
    if (client.empty() || terminateName.empty() || executeName.empty())
    {
        Log(L"incomplete command line; nothing to do");
        return 2;
    }
    CHandleHolder terminate(::CreateEventW(nullptr, TRUE, FALSE, terminateName.c_str()));
    CHandleHolder execute(::CreateEventW(nullptr, TRUE, FALSE, executeName.c_str()));
    if (!terminate || !execute)
    {
        Log(L"creating the events failed with error " + std::to_wstring(::GetLastError()));
        return 4;
    }
    Log(L"waiting on " + terminateName + L" and " + executeName);
    const HANDLE events[] = {terminate.Get(), execute.Get()};
    switch (::WaitForMultipleObjects(2, events, FALSE, kMaximumWaitMs))
    {
    case WAIT_OBJECT_0:
        Log(L"terminate event: the client is not restarted");
        return 0;
    case WAIT_OBJECT_0 + 1:
        return StartClient(client, options[L"/launchparams"]);
    default:
        Log(L"no event came; ending without restarting the client");
        return 1;
    }
}
