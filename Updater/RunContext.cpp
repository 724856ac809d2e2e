#include "Updater/RunContext.h"

#include "System/Win32/Synchronization.h"
#include "Updater/Ui/ProgressWindow.h"

namespace OV::Updater
{

namespace
{

struct RunSlots
{
    System::Win32::CCriticalSection lock;
    std::shared_ptr<IRunReporter> reporter;
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

void PostProgressPosition(unsigned position)
{
    if (Ui::CProgressWindow* window = Ui::CProgressWindow::GetCurrent())
        window->SetProgress(static_cast<std::int32_t>(position));
}

} // namespace OV::Updater
