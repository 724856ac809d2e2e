#include "System/Stopwatch.h"

#include "System/Platform.h"

namespace OV::System
{

void CStopwatch::Start()
{
    const std::uint64_t now = ::GetTickCount64();
    if (m_State == Stopped)
        m_StartTick = now;
    else if (m_State == Paused)
        m_PausedTotal += now - m_PauseTick;
    m_State = Running;
}

void CStopwatch::Pause()
{
    if (m_State != Running)
        return;
    m_PauseTick = ::GetTickCount64();
    m_State = Paused;
}

void CStopwatch::Reset()
{
    m_State = Stopped;
    m_PausedTotal = 0;
}

std::uint64_t CStopwatch::GetElapsedMs() const
{
    switch (m_State)
    {
    case Running:
        return ::GetTickCount64() - m_PausedTotal - m_StartTick;
    case Paused:
        return m_PauseTick - m_PausedTotal - m_StartTick;
    default:
        return 0;
    }
}

} // namespace OV::System
