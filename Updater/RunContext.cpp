#include "Updater/RunContext.h"

#include "System/Win32/Synchronization.h"

namespace OV::Updater
{

namespace
{

constexpr UINT kSetProgressMessage = WM_USER + 2;

struct RunSlots
{
    System::Win32::CCriticalSection lock;
    std::shared_ptr<IRunReporter> reporter;
    HWND dialog = nullptr;
};

RunSlots& Slots()
{
    static RunSlots slots;
    return slots;
}

} // namespace

void SetRunReporter(std::shared_ptr<IRunReporter> reporter)
{
    System::Win32::CCriticalSectionLock lock(Slots().lock);
    Slots().reporter = std::move(reporter);
}

std::shared_ptr<IRunReporter> GetRunReporter()
{
    System::Win32::CCriticalSectionLock lock(Slots().lock);
    return Slots().reporter;
}

void DropRunReporter()
{
    std::shared_ptr<IRunReporter> last;
    {
        System::Win32::CCriticalSectionLock lock(Slots().lock);
        last.swap(Slots().reporter);
    }
    // The reporter's end (which may wait for its upload) runs here, outside the lock.
}

void ReportResult(std::uint32_t code)
{
    if (auto reporter = GetRunReporter())
        reporter->ReportResult(code);
}

void ReportResultText(const std::wstring& text)
{
    if (auto reporter = GetRunReporter())
        reporter->ReportResultText(text);
}

void ReportSucceeded()
{
    if (auto reporter = GetRunReporter())
        reporter->ReportSucceeded();
}

void SetProgressDialog(HWND dialog)
{
    System::Win32::CCriticalSectionLock lock(Slots().lock);
    Slots().dialog = dialog;
}

HWND GetProgressDialog()
{
    System::Win32::CCriticalSectionLock lock(Slots().lock);
    return Slots().dialog;
}

void PostProgressPosition(unsigned position)
{
    if (HWND dialog = GetProgressDialog())
        ::PostMessageW(dialog, kSetProgressMessage, static_cast<WPARAM>(position), 0);
}

} // namespace OV::Updater
