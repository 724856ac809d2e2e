#pragma once

#include "System/Net/InternetHandle.h"
#include "System/Object.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <string>

namespace OV::System::Net
{

class CHttpWebRequest;

// What a web request shares with its worker thread. Both hold a counted reference, so the state lives
// until the later of the two lets go.
//
// Lock order: m_WorkerLock, then m_FieldsLock, then m_StatusLock. The worker never holds m_FieldsLock
// across a blocking WinInet call.
class RequestSharedState : public CReferenceCounted
{
public:
    explicit RequestSharedState(CHttpWebRequest* request) : m_Request(request) {}

    // Closes the request, connection and root handles, in that order, whichever thread gets them first.
    void CloseInternetHandles()
    {
        m_RequestHandle.Take().Reset();
        m_Connection.Take().Reset();
        m_Root.Take().Reset();
    }

    // Guards every field of the request that the worker and the caller both touch.
    OV::System::Win32::CCriticalSection m_FieldsLock;
    // Guards m_WorkerThread and the output paths.
    OV::System::Win32::CCriticalSection m_WorkerLock;
    // Serialises status updates.
    OV::System::Win32::CCriticalSection m_StatusLock;

    // Cleared by the request's destructor once its worker has ended.
    CHttpWebRequest* m_Request;
    std::wstring m_OutputPath;
    std::wstring m_NextOutputPath;
    std::atomic<bool> m_Reading{false};

    // The worker thread while it runs; the worker closes and clears it as its very last use of the
    // request, so "no thread here" means the worker no longer touches the request.
    OV::System::Win32::CHandleHolder m_WorkerThread;

    CSharedInternetHandle m_Root;
    CSharedInternetHandle m_Connection;
    CSharedInternetHandle m_RequestHandle;
};

} // namespace OV::System::Net
