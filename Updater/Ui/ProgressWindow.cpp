#include "Updater/Ui/ProgressWindow.h"

#include "System/ErrorBoundary.h"
#include "System/ErrorText.h"
#include "System/ExitCodeException.h"
#include "Updater/RunOutcome.h"
#include "Updater/Ui/ProgressWindowThread.h"

namespace OV::Updater::Ui
{

namespace
{
constexpr char kSource[] = "Ov\\Updater\\Ui\\ProgressWindow.cpp";
constexpr std::int32_t kDefaultPauseBeforeShowingMs = 1000;
constexpr std::int32_t kDefaultMinimumShowTimeMs = 500;
constexpr std::int32_t kFullProgress = 100;
} // namespace

std::atomic<CProgressWindow*> CProgressWindow::s_Current{nullptr};
std::atomic<std::int32_t> CProgressWindow::s_PauseBeforeShowing{kDefaultPauseBeforeShowingMs};
std::atomic<std::int32_t> CProgressWindow::s_MinimumShowTime{kDefaultMinimumShowTimeMs};

CProgressWindow::CProgressWindow(const std::wstring& title, const std::wstring& statusText, bool visible)
    : m_Visible(visible), m_Title(title), m_StatusText(statusText),
      m_MinimumShowTime(s_MinimumShowTime.load())
{
    CProgressWindow* noWindow = nullptr;
    if (!s_Current.compare_exchange_strong(noWindow, this))
        throw System::CExitCodeException(FailureUIConstructor);

    // From here on this window holds the current-window slot; a failure gives it back.
    try
    {
        m_UiThread = System::MakeRef<CProgressWindowThread>(*this);
        m_UiThread->ThreadStart();
    }
    catch (...)
    {
        m_UiThread.Reset();
        s_Current.store(nullptr);
        throw;
    }
}

CProgressWindow::~CProgressWindow()
{
    // The last reference: stopping the thread waits until it has closed the dialog (if it made one).
    m_UiThread.Reset();
    s_Current.store(nullptr);
}

HWND CProgressWindow::GetDialogHandle() const
{
    if (const HWND dialog = m_DialogHandle.load())
        return dialog;
    m_DialogWanted.Set();
    const HANDLE handles[] = {m_DialogMade.GetHandle(), m_UiThread->GetHandle()};
    const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    OV_THROW_LAST_ERROR_IF(result == WAIT_FAILED, "Waiting for the progress window failed: " +
                                                      System::GetErrorText(::GetLastError()));
    return m_DialogHandle.load();
}

HWND CProgressWindow::MakeDialog() const
{
    const HWND dialog = GetDialogHandle();
    if (dialog == nullptr && ::WaitForSingleObject(m_DialogMade.GetHandle(), 0) != WAIT_OBJECT_0)
        throw System::CExitCodeException(FailureUIThread);
    return dialog;
}

void CProgressWindow::SetStatusText(const std::wstring& text)
{
    System::Win32::CCriticalSectionLock lock(m_Lock);
    m_StatusText = text;
    m_StatusChanged = true;
}

void CProgressWindow::SetProgress(std::int32_t position)
{
    const std::int32_t limited = position < kFullProgress ? position : kFullProgress;
    System::Win32::CCriticalSectionLock lock(m_Lock);
    m_Position = limited;
    // Once the dialog is closed there is nothing to move; a null window would post to this thread instead.
    const HWND dialog = m_DialogHandle.load();
    if (dialog != nullptr)
        ::PostMessageW(dialog, kSetProgressMessage, static_cast<WPARAM>(limited), 0);
}

void CProgressWindow::SignalStop()
{
    m_UiThread->SignalStop();
}

} // namespace OV::Updater::Ui
