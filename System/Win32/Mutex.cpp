#include "System/Win32/Mutex.h"

#include "System/ErrorBoundary.h"
#include "System/Win32/ErrorMessage.h"

namespace OV::System::Win32
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Win32\\Mutex.cpp";
}

CMutex::CMutex(const std::wstring& name)
{
    m_Handle.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    OV_THROW_LAST_ERROR_IF(!m_Handle, WithErrorText("CreateMutex failed with ", ::GetLastError()));
}

DWORD CMutex::Wait(DWORD timeout)
{
    const DWORD result = CSynchronizationObject::Wait(timeout);
    if (result != WAIT_OBJECT_0)
    {
        // An abandoned wait still hands us ownership: give it back, so that throwing leaves nothing held.
        if (result == WAIT_ABANDONED)
            ::ReleaseMutex(m_Handle.Get());
        OV_THROW(WithErrorText("Wait Failed:", ::GetLastError()));
    }
    return result;
}

void CMutex::ReleaseMutex()
{
    OV_THROW_LAST_ERROR_IF(!::ReleaseMutex(m_Handle.Get()),
                           WithErrorText("Failed to release mutex:", ::GetLastError()));
}

CMutexLock::CMutexLock(CMutex& mutex, DWORD timeout) : m_Mutex(&mutex)
{
    m_Mutex->Wait(timeout);
}

CMutexLock::~CMutexLock()
{
    try
    {
        m_Mutex->ReleaseMutex();
    }
    catch (const CException&)
    {
        // A destructor must not throw; the mutex is released when its owner thread ends at the latest.
    }
}

} // namespace OV::System::Win32
