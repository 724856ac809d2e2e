#pragma once

#include "System/Object.h"
#include "System/Platform.h"

namespace OV::Analytics
{

// Holds a named mutex of the analytics for one operation. The wait also ends when the stop event (if any)
// is set, consuming it; the mutex counts as obtained only when the wait returned it normally. An abandoned
// mutex is released at once and not counted, so that the operation gives up as after a stop.
class CNamedMutexHold : public System::CNonCopyable
{
public:
    CNamedMutexHold(HANDLE mutex, HANDLE stopEvent)
    {
        const HANDLE handles[2] = {mutex, stopEvent};
        const DWORD result = ::WaitForMultipleObjects(stopEvent != nullptr ? 2 : 1, handles, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
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
