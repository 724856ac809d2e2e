#pragma once

#include "System/Platform.h"
#include "System/Win32/Thread.h"

#include <cstdint>

namespace OV::Updater::Ui
{

class CProgressWindow;

// The progress window's own thread: creates the dialog when it is due (the pause is over, or the owner
// asked for it), pumps its messages, shows it after the pause, shows new status texts, and closes it when
// asked (not before the minimum show time once shown). The window outlives its thread.
class CProgressWindowThread : public System::Win32::CThread
{
public:
    explicit CProgressWindowThread(CProgressWindow& window) : m_Window(window) {}
    // A window destroyed at once may find its thread not yet in its body: it must end before this object
    // is no longer a CProgressWindowThread.
    ~CProgressWindowThread() override { Stop(INFINITE); }

protected:
    // 0 when the dialog was closed as asked; 0x201 when it could not be created; 0x200 on any other
    // failure.
    std::uint32_t Execute() override;

private:
    // False when stop was signalled first; true once the pause is over (a visible window) or the owner
    // asked for the dialog.
    bool WaitUntilDialogIsDue(const CProgressWindow& window, ULONGLONG since);
    std::uint32_t RunDialog(CProgressWindow& window);
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR InitialiseDialog(HWND dialog, CProgressWindow& window);

    CProgressWindow& m_Window;
};

} // namespace OV::Updater::Ui
