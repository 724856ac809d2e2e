#pragma once

#include "System/Win32/Synchronization.h"

#include <string>

namespace OV::System::Win32
{

// A named Win32 mutex, created not owned; an existing mutex of the same name is opened instead.
class CMutex : public CSynchronizationObject
{
public:
    explicit CMutex(const std::wstring& name);

    // Returns only with the mutex held: a time-out or an abandoned mutex throws.
    DWORD Wait(DWORD timeout) override;
    void ReleaseMutex();
};

// Holds a mutex for the lifetime of a scope. The wait happens in the constructor, so a failure throws
// before the holder exists and nothing is released for it. Lives on the stack; never counted.
class CMutexLock : public CReferenceCounted
{
public:
    CMutexLock(CMutex& mutex, DWORD timeout);
    ~CMutexLock() override;

private:
    CMutex* m_Mutex;
};

} // namespace OV::System::Win32
