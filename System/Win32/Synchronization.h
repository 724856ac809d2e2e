#pragma once

#include "System/Object.h"
#include "System/Platform.h"

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

} // namespace OV::System::Win32
