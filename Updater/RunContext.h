#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

// Reports through the run's analytics reporter in its process-wide slot; nothing happens when the slot
// is empty (before the reporter exists, or after the run dropped it).
void ReportResult(std::uint32_t code);
void ReportResultText(const std::wstring& text);
void ReportSucceeded();

// Adds a line to the run's log; nothing happens before the log is open.
void LogRunLine(const std::wstring& line);

// Posts position 0 to 100 to the current progress window, if there is one.
void PostProgressPosition(unsigned position);

} // namespace OV::Updater
