#include "System/Win32/Synchronization.h"

#include "System/ErrorBoundary.h"
#include "System/Win32/ErrorMessage.h"

namespace OV::System::Win32
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Win32\\Synchronization.cpp";
}

DWORD CSynchronizationObject::Wait(DWORD timeout)
{
    const DWORD result = ::WaitForSingleObject(m_Handle.Get(), timeout);
    OV_THROW_LAST_ERROR_IF(result == WAIT_FAILED, WithErrorText("Wait Failed:", ::GetLastError()));
    return result;
}

DWORD CSynchronizationObject::WaitForMultiple(const std::vector<CSynchronizationObject*>& objects,
                                              DWORD timeout, bool waitAll)
{
    std::vector<HANDLE> handles;
    handles.reserve(objects.size());
    for (const CSynchronizationObject* object : objects)
        handles.push_back(object->GetHandle());
    return ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                    waitAll ? TRUE : FALSE, timeout);
}

DWORD CSynchronizationObject::WaitForMultiple(std::initializer_list<CSynchronizationObject*> objects,
                                              DWORD timeout, bool waitAll)
{
    return WaitForMultiple(std::vector<CSynchronizationObject*>(objects), timeout, waitAll);
}

} // namespace OV::System::Win32
