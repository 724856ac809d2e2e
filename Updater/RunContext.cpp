#include "Updater/RunContext.h"

#include "Analytics/AnalyticsReporter.h"
#include "System/Log.h"
#include "System/LogLine.h"
#include "System/String/AnsiWide.h"
#include "Updater/RunOutcome.h"
#include "Updater/Ui/ProgressWindow.h"

namespace OV::Updater
{

using Analytics::CAnalyticsReporter;

void ReportResult(std::uint32_t code)
{
    if (auto reporter = CAnalyticsReporter::GetCurrent())
        reporter->ReportResultText(OV::AnsiToWide(GetResultName(code)));
}

void ReportResultText(const std::wstring& text)
{
    if (auto reporter = CAnalyticsReporter::GetCurrent())
        reporter->ReportResultText(text);
}

void ReportSucceeded()
{
    if (auto reporter = CAnalyticsReporter::GetCurrent())
        reporter->ReportSucceeded();
}

void LogRunLine(const std::wstring& line)
{
    const std::wstring path = System::CLog::GetOutputFile();
    if (!path.empty())
        System::AppendLogLine(path, line);
}

void PostProgressPosition(unsigned position)
{
    if (Ui::CProgressWindow* window = Ui::CProgressWindow::GetCurrent())
        window->SetProgress(static_cast<std::int32_t>(position));
}

} // namespace OV::Updater
