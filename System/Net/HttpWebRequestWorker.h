#pragma once

#include "System/Net/RequestSharedState.h"
#include "System/Object.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>

namespace OV::System::Net
{

// The worker thread of a web request: starts it, waits for it and ends it early. The thread runs one
// transfer (CHttpWebRequestTransfer) on the shared state and holds its own reference to that state, so
// the request may go while the thread still finishes.
class CHttpWebRequestWorker : public CNonCopyable
{
public:
    explicit CHttpWebRequestWorker(CRefPtr<RequestSharedState> shared);

    // Starts a worker unless one runs; a transfer that has ended is cleared first. False when the thread
    // could not be created (GetLastError says why): the request has then failed.
    bool Start();
    bool IsRunning() const;
    // False only when the wait timed out.
    bool Wait(std::uint32_t timeoutMs) const;
    // Ends a running transfer with detail 2 and returns once its thread has ended; without one, marks
    // the request cancelled.
    void Abort();

    // Without a running worker this is the output file; while one runs it is the next output file,
    // which becomes the output file when that worker ends.
    void SetOutputFile(const std::wstring& path);
    std::wstring GetOutputFile() const;
    std::wstring GetNextOutputFile() const;

private:
    static unsigned __stdcall ThreadMain(void* argument);
    // A request started again after it ended runs a new transfer; what the previous one left is
    // cleared. The first start keeps what was set before it (a cancellation included).
    void ResetForTransfer();

    CRefPtr<RequestSharedState> m_Shared;
};

} // namespace OV::System::Net
