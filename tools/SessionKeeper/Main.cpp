// Keeps Wine's desktop process alive for a test session. Wine ends explorer.exe shortly after the last
// window of the desktop closes and starts it again for the next program that needs it; that restart
// inherits the output pipes of whichever test program triggered it, and a test runner reading those
// pipes then waits for it. One hidden window held for the whole session avoids the restarts.
// Ends when the named event "OVSessionKeeperStop" is set, or after at most six hours.
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    OV::System::Win32::CHandleHolder stop(::CreateEventW(nullptr, TRUE, FALSE, L"OVSessionKeeperStop"));
    HWND window = ::CreateWindowExW(0, L"STATIC", L"OV session keeper", WS_POPUP | WS_VISIBLE, -10, -10, 1, 1,
                                    nullptr, nullptr, instance, nullptr);
    const HANDLE handles[] = {stop.Get()};
    const ULONGLONG deadline = ::GetTickCount64() + 6ull * 60 * 60 * 1000;
    while (::GetTickCount64() < deadline)
    {
        const DWORD result = ::MsgWaitForMultipleObjects(1, handles, FALSE, 60000, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
    }
    if (window != nullptr)
        ::DestroyWindow(window);
    return 0;
}
