#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace OV::Updater
{

// What the stages of a run report to analytics through the run's reporter.
class IRunReporter
{
public:
    virtual ~IRunReporter() = default;
    virtual void ReportResult(std::uint32_t code) = 0;
    virtual void ReportResultText(const std::wstring& text) = 0;
    virtual void ReportSucceeded() = 0;
};

// The process-wide slot that holds the run's reporter; the download and hand-off stages reach it here.
void SetRunReporter(std::shared_ptr<IRunReporter> reporter);
std::shared_ptr<IRunReporter> GetRunReporter();
// Empties the slot; the reporter ends when its last holder lets go.
void DropRunReporter();

// Reports through the slot's reporter; nothing happens when the slot is empty.
void ReportResult(std::uint32_t code);
void ReportResultText(const std::wstring& text);
void ReportSucceeded();

// Posts position 0 to 100 to the current progress window, if there is one.
void PostProgressPosition(unsigned position);

} // namespace OV::Updater
