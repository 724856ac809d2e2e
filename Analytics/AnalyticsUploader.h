#pragma once

#include "Analytics/AnalyticsQueue.h"
#include "System/Win32/Synchronization.h"
#include "System/Win32/Thread.h"

#include <cstdint>
#include <string>

namespace OV::System::Net
{
class CHttpWebRequest;
} // namespace OV::System::Net

namespace OV::Analytics
{

// Where an upload sends its records: the collection address, the pause after each record, and what a
// record's extra text does to its request.
class IUploadTarget
{
public:
    // The collection address (without query); the argument says whether the hit carries several records.
    virtual std::string GetCollectUrl(bool multiple) const = 0;
    // The pause after each record sent, which a stop request cuts short.
    virtual std::uint32_t GetRetryDelayMs() const = 0;
    virtual void PrepareRequest(System::Net::CHttpWebRequest& request,
                                const std::string& extraText) const = 0;

protected:
    ~IUploadTarget() = default;
};

// One upload: a thread that sends the queue's pending records one at a time, each as one request, and
// removes each after its request has ended. Only one thread of all processes sends from a queue at a time
// (the upload mutex). The thread ends when the queue is empty, the network is gone, a read fails or it is
// stopped; a start that was refused while it ran makes it look at the queue once more before it ends.
//
// Lock order: the owner's lock before m_EndLock, which guards m_LookAgain and m_Ending only.
class CAnalyticsUploader : public System::Win32::CThread
{
public:
    static constexpr std::size_t kMaxUploadQueryLength = 2047; // longer hits are dropped unsent
    static constexpr std::uint32_t kStopGraceMs = 1000;        // a request in flight may finish

    // The queue, the target and the upload mutex stay the owner's and outlive the thread.
    CAnalyticsUploader(CAnalyticsQueue& queue, const IUploadTarget& target, HANDLE uploadMutex,
                       std::wstring userAgent);
    ~CAnalyticsUploader() override;

    // For a start refused because this thread runs: true when the thread will look at the queue again
    // before it ends, false when it is already ending (the owner then starts another).
    bool AskToLookAgain();

    // Sends at most one record (count 1), or finds the queue empty (count 0). False ends the upload.
    bool UploadNext(std::uint32_t& count);

    // "Mozilla/5.0 (Windows NT <major.minor>; [WOW64]) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/..."
    static std::wstring BuildUserAgent();

protected:
    std::uint32_t Execute() override;

private:
    // Waits for the request; true when it completed, false when a stop request ended the wait.
    bool WaitForRequest(const System::Net::CHttpWebRequest& request);
    // At the end of the queue: true when a refused start asked for another look; else the thread ends.
    bool ShouldLookAgain();
    // True once the queue holds a record; false when it is empty and nobody asked for another look.
    bool HasPendingRecords();
    void MarkEnding();

    CAnalyticsQueue& m_Queue;
    const IUploadTarget& m_Target;
    HANDLE m_UploadMutex;
    std::wstring m_UserAgent;
    System::Win32::CCriticalSection m_EndLock;
    bool m_LookAgain = false;
    bool m_Ending = false;
};

} // namespace OV::Analytics
