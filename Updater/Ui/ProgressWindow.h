#pragma once

#include "System/Object.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/Win32/Event.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace OV::Updater::Ui
{

class CProgressWindowThread;

// The run's progress window: one status line and one progress bar in a dialog that lives on a thread of
// its own, so that the run never waits on the user interface. It appears only when the run is still going
// after the pause before showing, and once shown stays at least the minimum show time. The user cannot
// close it. Only one exists at a time.
//
// The dialog is made when the pause is over or when the owner first asks for its handle (a message box
// that it owns), whichever comes first: a run that ends before either makes no window at all.
//
// The owner talks to it by SetStatusText and SetProgress (kept under the window's lock, and posted to the
// dialog once it exists); nothing else crosses the threads.
class CProgressWindow : public System::CNonCopyable
{
public:
    // wParam: the new position, 0 to 100; lParam: 0. Always posted, from any thread.
    static constexpr UINT kSetProgressMessage = WM_USER + 2;

    // Starts the window's thread, which makes the dialog later (see above). Throws CExitCodeException 0x202
    // while another window exists.
    CProgressWindow(const std::wstring& title, const std::wstring& statusText, bool visible);
    // Stops the window's thread and waits until it has closed the dialog (a shown window first stays
    // for the rest of its minimum show time).
    ~CProgressWindow();

    // Shown by the window's thread within one step of its loop (about 50 ms).
    void SetStatusText(const std::wstring& text);
    // Posts the position, limited to 100 (values below 100, negative ones included, pass unchanged); a
    // dialog made later starts at the last one.
    void SetProgress(std::int32_t position);
    // Asks the window's thread to close the dialog, without waiting for it.
    void SignalStop();
    // The dialog, made now (hidden until the pause is over) when it does not exist yet. Null once the
    // window's thread has closed it, or when it has ended without one.
    HWND GetDialogHandle() const;
    // Throws CExitCodeException 0x203 when the window's thread ended before its dialog was ready (none can
    // be made); otherwise the dialog, as GetDialogHandle.
    HWND MakeDialog() const;

    // The one window that exists, or null.
    static CProgressWindow* GetCurrent() { return s_Current.load(); }

    // Process-wide settings, read when a window is made: how long a run must last before the window is
    // shown, and how long a shown window stays at least. Milliseconds; a negative value counts as elapsed.
    static void SetPauseBeforeShowing(std::int32_t milliseconds) { s_PauseBeforeShowing.store(milliseconds); }
    static void SetMinimumShowTime(std::int32_t milliseconds) { s_MinimumShowTime.store(milliseconds); }
    static std::int32_t GetPauseBeforeShowing() { return s_PauseBeforeShowing.load(); }
    static std::int32_t GetMinimumShowTime() { return s_MinimumShowTime.load(); }

private:
    friend class CProgressWindowThread;

    bool m_Visible;
    System::Win32::CCriticalSection m_Lock; // guards m_StatusChanged, m_Title, m_StatusText and m_Position
    bool m_StatusChanged = false;
    std::wstring m_Title;
    std::wstring m_StatusText;
    std::int32_t m_Position = 0;
    std::int32_t m_MinimumShowTime;
    std::atomic<HWND> m_DialogHandle{nullptr};
    // Both manual-reset: the owner wants the dialog now (asked for by a query, hence mutable); the dialog
    // has been made.
    mutable System::Win32::CEvent m_DialogWanted{false, true};
    System::Win32::CEvent m_DialogMade{false, true};
    System::CRefPtr<CProgressWindowThread> m_UiThread;

    static std::atomic<CProgressWindow*> s_Current;
    static std::atomic<std::int32_t> s_PauseBeforeShowing;
    static std::atomic<std::int32_t> s_MinimumShowTime;
};

} // namespace OV::Updater::Ui
