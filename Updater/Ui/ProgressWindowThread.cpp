#include "Updater/Ui/ProgressWindowThread.h"

#include "System/ExitCodeException.h"
#include "System/Win32/UniqueHandle.h"
#include "Updater/RunOutcome.h"
#include "Updater/Ui/ProgressWindow.h"
#include "Updater/Ui/ResourceIds.h"

#include <commctrl.h>

namespace OV::Updater::Ui
{

namespace
{
constexpr DWORD kLoopStepMs = 50;

using CDialog = System::Win32::CUniqueAny<HWND, &::DestroyWindow>;

// Set by the dialog procedure when WM_INITDIALOG could not finish; exceptions must not cross the system's
// message dispatch.
thread_local bool t_InitialisationFailed = false;

// The bar's window class comes from the common controls. They are loaded by the first window rather than
// at program start: their start-up (class registrations, the theme engine) was the largest single cost of
// a run that ends quietly, and such a run may never need them. Once loaded they stay, as an import would.
void RegisterProgressBarClass()
{
    static const HMODULE commonControls = ::LoadLibraryW(L"comctl32.dll");
    if (commonControls == nullptr)
        return; // the dialog then fails to be created, with its own outcome
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    // Through the generic function type, which converts to any other without a warning.
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(commonControls, "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    if (init != nullptr)
        init(&classes);
}

// A negative setting counts as already elapsed.
bool HasElapsed(ULONGLONG since, std::int32_t milliseconds)
{
    return static_cast<std::int64_t>(::GetTickCount64() - since) >= static_cast<std::int64_t>(milliseconds);
}
} // namespace

std::uint32_t CProgressWindowThread::Execute()
{
    try
    {
        return RunDialog(m_Window);
    }
    catch (const System::CExitCodeException& failure)
    {
        m_Window.m_DialogHandle.store(nullptr);
        return failure.GetExitCode();
    }
    catch (...)
    {
        m_Window.m_DialogHandle.store(nullptr);
        return FailureUIException;
    }
}

bool CProgressWindowThread::WaitUntilDialogIsDue(const CProgressWindow& window, ULONGLONG since)
{
    const HANDLE handles[] = {GetStopEventHandle(), window.m_DialogWanted.GetHandle()};
    DWORD timeout = INFINITE;
    if (window.m_Visible)
    {
        const std::int64_t left = static_cast<std::int64_t>(CProgressWindow::GetPauseBeforeShowing()) -
                                  static_cast<std::int64_t>(::GetTickCount64() - since);
        timeout = left > 0 ? static_cast<DWORD>(left) : 0;
    }
    return ::WaitForMultipleObjects(2, handles, FALSE, timeout) != WAIT_OBJECT_0;
}

std::uint32_t CProgressWindowThread::RunDialog(CProgressWindow& window)
{
    // The pause counts from the window's start, not from its dialog.
    ULONGLONG since = ::GetTickCount64();
    if (!WaitUntilDialogIsDue(window, since))
        return 0; // stopped before anything was to be seen or owned: no dialog at all

    RegisterProgressBarClass();

    t_InitialisationFailed = false;
    CDialog dialog(::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                        &CProgressWindowThread::DialogProcedure,
                                        reinterpret_cast<LPARAM>(&window)));
    if (!dialog)
        throw System::CExitCodeException(FailureUICreateDialog);
    if (t_InitialisationFailed)
        throw System::CExitCodeException(FailureUIException);

    bool notShownYet = true;
    const HANDLE stopEvent = GetStopEventHandle();
    for (;;)
    {
        const bool stopping = IsStopSignalled();
        if (stopping)
        {
            if (notShownYet || !window.m_Visible)
                break;
            if (HasElapsed(since, window.m_MinimumShowTime))
                break;
            // Shown: stays until the minimum show time has passed.
        }
        else if (notShownYet && HasElapsed(since, CProgressWindow::GetPauseBeforeShowing()))
        {
            if (window.m_Visible)
            {
                ::ShowWindow(dialog.Get(), SW_SHOWNORMAL);
                ::UpdateWindow(dialog.Get());
            }
            notShownYet = false;
            since = ::GetTickCount64(); // from now on: the moment of showing
        }

        // A stop request wakes the loop at once: the run's end does not wait out a step. Once stopping (the
        // event stays set) only the step paces the rest of the minimum show time.
        ::MsgWaitForMultipleObjectsEx(stopping ? 0 : 1, &stopEvent, kLoopStepMs, QS_ALLINPUT,
                                      MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        MSG message;
        if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && !::IsDialogMessageW(dialog.Get(), &message))
        {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }

        System::Win32::CCriticalSectionLock lock(window.m_Lock);
        if (window.m_StatusChanged)
        {
            ::SetDlgItemTextW(dialog.Get(), IDC_STATUS_TEXT, window.m_StatusText.c_str());
            window.m_StatusChanged = false;
        }
    }
    dialog.Reset();
    window.m_DialogHandle.store(nullptr);
    return 0;
}

INT_PTR CALLBACK CProgressWindowThread::DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                                        LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        return InitialiseDialog(dialog, *reinterpret_cast<CProgressWindow*>(lParam));
    case CProgressWindow::kSetProgressMessage:
        // The same number is PBM_SETPOS for the bar.
        ::PostMessageW(::GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_SETPOS, wParam, lParam);
        return TRUE;
    default:
        // Everything else, close requests and commands included, gets the default handling, which
        // closes nothing.
        return FALSE;
    }
}

INT_PTR CProgressWindowThread::InitialiseDialog(HWND dialog, CProgressWindow& window)
{
    try
    {
        // Under the lock, so that a position set meanwhile is either the starting one or posted after it.
        System::Win32::CCriticalSectionLock lock(window.m_Lock);
        ::SetWindowTextW(dialog, window.m_Title.c_str());
        ::SetDlgItemTextW(dialog, IDC_STATUS_TEXT, window.m_StatusText.c_str());
        window.m_StatusChanged = false;
        const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_UPDATER));
        ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        ::PostMessageW(::GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_SETPOS,
                       static_cast<WPARAM>(window.m_Position), 0);
        window.m_DialogHandle.store(dialog);
        window.m_DialogMade.Set();
    }
    catch (...)
    {
        t_InitialisationFailed = true;
    }
    return TRUE;
}

} // namespace OV::Updater::Ui
