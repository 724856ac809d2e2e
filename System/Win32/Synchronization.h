#pragma once

#include "System/Object.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <initializer_list>
#include <vector>

namespace OV::System::Win32
{

// A process-local lock. Users hold it through CCriticalSectionLock so that every way out unlocks it.
class CCriticalSection : public CNonCopyable
{
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_Section); }
    virtual ~CCriticalSection() { ::DeleteCriticalSection(&m_Section); }

    virtual void Lock() { ::EnterCriticalSection(&m_Section); }
    virtual void Unlock() { ::LeaveCriticalSection(&m_Section); }

private:
    CRITICAL_SECTION m_Section;
};

class CCriticalSectionLock : public CNonCopyable
{
public:
    explicit CCriticalSectionLock(CCriticalSection& section) : m_Section(section) { m_Section.Lock(); }
    ~CCriticalSectionLock() { m_Section.Unlock(); }

private:
    CCriticalSection& m_Section;
};

// Base of the waitable kernel objects (events, mutexes). It owns the handle and closes it when it goes.
// Shared objects are held through CRefPtr; an object embedded as a member is never counted.
class CSynchronizationObject : public CReferenceCounted
{
public:
    ~CSynchronizationObject() override = default;

    // WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT as the system returns them; throws on WAIT_FAILED.
    virtual DWORD Wait(DWORD timeout);

    // WaitForMultipleObjects over the objects' handles in list order; its result is returned unchanged
    // (WAIT_FAILED included), nothing is thrown.
    static DWORD WaitForMultiple(const std::vector<CSynchronizationObject*>& objects, DWORD timeout,
                                 bool waitAll);
    static DWORD WaitForMultiple(std::initializer_list<CSynchronizationObject*> objects, DWORD timeout,
                                 bool waitAll);

    // Borrowed: stays owned by this object.
    HANDLE GetHandle() const { return m_Handle.Get(); }

protected:
    CSynchronizationObject() = default;

    CHandleHolder m_Handle;
};

} // namespace OV::System::Win32
