#pragma once

#include "System/Platform.h"
#include "System/Win32/Thread.h"

#include <cstdint>

namespace OV::Updater::Ui
{

class CProgressWindow;

// The progress window's own thread: creates the dialog, pumps its messages, shows it after the pause,
// shows new status texts, and closes it when asked (not before the minimum show time once shown). It
// reaches its window through the current-window pointer, read once when the body starts.
class CProgressWindowThread : public System::Win32::CThread
{
public:
    CProgressWindowThread() = default;
    ~CProgressWindowThread() override = default;

protected:
    // 0 when the dialog was closed as asked; 0x201 when it could not be created; 0x200 on any other
    // failure.
    std::uint32_t Execute() override;

private:
    std::uint32_t RunDialog(CProgressWindow& window);
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR InitialiseDialog(HWND dialog);
};

} // namespace OV::Updater::Ui
