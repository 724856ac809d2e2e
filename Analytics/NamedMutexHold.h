#pragma once

#include "System/Object.h"
#include "System/Platform.h"

namespace OV::Analytics
{

// Holds a named mutex of the analytics for one operation. The wait also ends when the stop event (if any)
// is set, consuming it. A mutex that its last owner abandoned (a process killed while holding it) is, by
// choice of the caller, either taken over or released at once so that the operation gives up.
class CNamedMutexHold : public System::CNonCopyable
{
public:
    enum class Abandoned
    {
        GiveUp,
        TakeOver
    };

    CNamedMutexHold(HANDLE mutex, HANDLE stopEvent, Abandoned abandoned = Abandoned::GiveUp)
    {
        const HANDLE handles[2] = {mutex, stopEvent};
        const DWORD result = ::WaitForMultipleObjects(stopEvent != nullptr ? 2 : 1, handles, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 || (result == WAIT_ABANDONED_0 && abandoned == Abandoned::TakeOver))
            m_Mutex = mutex;
        else if (result == WAIT_ABANDONED_0)
            ::ReleaseMutex(mutex);
    }
    ~CNamedMutexHold()
    {
        if (m_Mutex != nullptr)
            ::ReleaseMutex(m_Mutex);
    }

    bool IsHeld() const { return m_Mutex != nullptr; }

private:
    HANDLE m_Mutex = nullptr;
};

} // namespace OV::Analytics
