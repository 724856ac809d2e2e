#pragma once

#include "System/Win32/Thread.h"

#include <cstdint>
#include <functional>
#include <utility>

namespace OV::Tests
{

// A CThread whose body is a function, for tests. The body gets the thread to poll its stop signal.
class CFunctionThread : public System::Win32::CThread
{
public:
    using Body = std::function<std::uint32_t(CFunctionThread&)>;

    explicit CFunctionThread(Body body) : m_Body(std::move(body)) {}
    // The body is a member of this class, so the thread must end before it goes; a body that ignores the
    // stop signal is cut off after a bounded wait.
    ~CFunctionThread() override { Stop(30000); }

protected:
    std::uint32_t Execute() override { return m_Body(*this); }

private:
    Body m_Body;
};

} // namespace OV::Tests
