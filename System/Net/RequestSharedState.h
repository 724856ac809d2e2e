#pragma once

#include "System/Net/HttpWebRequestResult.h"
#include "System/Net/HttpWebRequestSettings.h"
#include "System/Net/InternetHandle.h"
#include "System/Net/Url.h"
#include "System/Object.h"
#include "System/Stopwatch.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <string>

namespace OV::System::Net
{

// What a web request shares with its worker thread. Both hold a counted reference, so the state lives
// until the later of the two lets go; the worker never needs the request object itself.
//
// Lock order: m_WorkerLock, then m_FieldsLock, then m_StatusLock. The worker never holds m_FieldsLock
// across a blocking WinInet call.
class RequestSharedState : public CReferenceCounted
{
public:
    explicit RequestSharedState(Url url) : m_Url(std::move(url)) {}

    // Closes the request, connection and root handles, in that order, whichever thread gets them first.
    void CloseInternetHandles()
    {
        m_RequestHandle.Take().Reset();
        m_Connection.Take().Reset();
        m_Root.Take().Reset();
    }

    const Url m_Url;

    // Guards the settings, the result, the cancel request and the timers.
    OV::System::Win32::CCriticalSection m_FieldsLock;
    // Guards m_WorkerThread and the output paths.
    OV::System::Win32::CCriticalSection m_WorkerLock;
    // Serialises status updates.
    OV::System::Win32::CCriticalSection m_StatusLock;

    HttpWebRequestSettings m_Settings;
    HttpWebRequestResult m_Result;
    // Set by an abort; the worker ends the transfer at its next look.
    bool m_CancelRequested = false;
    CStopwatch m_TotalTimer;
    // Restarted before each read, looked at only while m_Reading is set.
    CStopwatch m_StallTimer;
    std::atomic<bool> m_Reading{false};
    std::atomic<bool> m_Complete{false};

    std::wstring m_OutputPath;
    std::wstring m_NextOutputPath;
    // The worker thread while it runs; the worker closes and clears it as its very last use of the
    // state, so "no thread here" means the transfer has ended.
    OV::System::Win32::CHandleHolder m_WorkerThread;

    CSharedInternetHandle m_Root;
    CSharedInternetHandle m_Connection;
    CSharedInternetHandle m_RequestHandle;
};

} // namespace OV::System::Net
