#include "System/Win32/Mutex.h"

#include "System/Exception.h"
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
    if (!m_Handle)
    {
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, "OV::System::Win32::CMutex::CMutex",
                         WithErrorText("CreateMutex failed with ", error));
    }
}

DWORD CMutex::Wait(DWORD timeout)
{
    const DWORD result = CSynchronizationObject::Wait(timeout);
    if (result != WAIT_OBJECT_0)
    {
        // An abandoned wait still hands us ownership: give it back, so that throwing leaves nothing held.
        if (result == WAIT_ABANDONED)
            ::ReleaseMutex(m_Handle.Get());
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, "OV::System::Win32::CMutex::Wait",
                         WithErrorText("Wait Failed:", error));
    }
    return result;
}

void CMutex::ReleaseMutex()
{
    if (!::ReleaseMutex(m_Handle.Get()))
    {
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, "OV::System::Win32::CMutex::ReleaseMutex",
                         WithErrorText("Failed to release mutex:", error));
    }
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
