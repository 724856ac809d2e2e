#pragma once

#include <cstdint>

namespace OV::System
{

// Millisecond stopwatch over the 64-bit tick count.
class CStopwatch
{
public:
    enum State : std::uint32_t
    {
        Stopped = 0,
        Running = 1,
        Paused = 2
    };

    void Start();
    void Pause();
    void Reset();
    std::uint64_t GetElapsedMs() const;
    State GetState() const { return m_State; }

private:
    State m_State = Stopped;
    std::uint64_t m_StartTick = 0;
    std::uint64_t m_PauseTick = 0;
    std::uint64_t m_PausedTotal = 0;
};

} // namespace OV::System
