#pragma once

#include <cstdint>

namespace OV::System
{

// Ends a run with an outcome code (RunOutcome). Carries no text, so it has no base class.
class CExitCodeException
{
public:
    explicit CExitCodeException(std::uint32_t exitCode) : m_ExitCode(exitCode) {}
    std::uint32_t GetExitCode() const { return m_ExitCode; }

private:
    std::uint32_t m_ExitCode;
};

} // namespace OV::System
