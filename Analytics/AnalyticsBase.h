#pragma once

#include "System/Object.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace OV::System::Net
{
class CHttpWebRequest;
} // namespace OV::System::Net

namespace OV::Analytics
{

// The analytics queue of one data file and its upload. The queue file lives in
// "<roaming application data>\Orvane\Analytics\" and is shared by every process of the user: each read or
// write of it holds the queue mutex, and each upload step the upload mutex, both named after the data file.
// One upload thread per object sends the pending records one at a time and removes each after its request
// has ended.
//
// Locks: m_Lock guards only m_Uploading and m_UploadThread and is never held while waiting for a mutex.
class CAnalyticsBase : public System::CReferenceCounted
{
public:
    static constexpr std::uint64_t kMaxQueueFileSize = 5242880;   // a fuller queue drops new events
    static constexpr std::uint32_t kCompactAfterOffset = 1048576; // sent space is reclaimed past this
    static constexpr std::size_t kMaxQueryLength = 65534;         // what a record can hold
    static constexpr std::size_t kMaxUploadQueryLength = 2047;    // longer hits are dropped unsent
    static constexpr std::uint32_t kStopGraceMs = 1000;           // a request in flight may finish

    ~CAnalyticsBase() override;

    // The collection address (without query); the argument says whether the hit carries several records.
    virtual std::string GetCollectUrl(bool multiple) const = 0;
    // The pause after each record sent, which a stop request cuts short.
    virtual std::uint32_t GetRetryDelayMs() const = 0;
    // A record with an extra text is sent as a POST with that text as its body.
    virtual void PrepareRequest(System::Net::CHttpWebRequest& request, const std::string& extraText) const;

    // The bytes of one record. Throws CException "QueryString too long" for a query of 65535 bytes or more.
    std::vector<std::uint8_t> ComposeItem(const std::string& query, const std::string& extra) const;
    // Appends one record; false when the event was dropped (queue over 5 MiB, mutex not obtained, file not
    // writable, short write).
    bool AddItem(const std::string& query, const std::string& extra);
    // The first pending record: count 1 with its text and the offset behind it, or count 0 at the end of the
    // queue. False when the queue could not be read; a damaged record resets the queue.
    bool ReadNextItem(std::uint32_t& count, std::uint32_t& endOffset, std::string& query, std::string& extra);
    // Marks the records up to endOffset as sent and reclaims their space once it passes 1 MiB.
    bool RemoveItems(std::uint32_t endOffset, std::uint32_t count);
    // Bytes of records not yet sent; 0 when the queue is unavailable.
    std::uint64_t GetPendingBytes();

    // Starts the upload thread unless it runs; true when it started one.
    bool StartUpload();
    // Ends the upload thread and returns once it has ended. A request in flight gets kStopGraceMs to finish.
    void StopUpload();
    bool IsUploading() const;
    // Sends at most one record (count 1), or finds the queue empty (count 0). False ends the upload.
    bool UploadNext(std::uint32_t& count);

    const std::wstring& GetQueuePath() const { return m_QueuePath; }
    const std::wstring& GetUserAgent() const { return m_UserAgent; }

    // "Mozilla/5.0 (Windows NT <major.minor>; [WOW64]) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/..."
    static std::wstring BuildUserAgent();
    static std::wstring GetQueuePathFor(const std::wstring& dataFileName);
    static std::wstring GetQueueMutexName(const std::wstring& dataFileName);
    static std::wstring GetUploadMutexName(const std::wstring& dataFileName);

protected:
    // Throws CException when a named mutex cannot be created.
    explicit CAnalyticsBase(const std::wstring& dataFileName);

private:
    // RemoveItems for a record that went out: a stop request must not make it go out again.
    bool RemoveSentItems(std::uint32_t endOffset, std::uint32_t count);
    bool RemoveItemsHolding(std::uint32_t endOffset, std::uint32_t count);
    static unsigned __stdcall UploadThreadMain(void* analytics);
    void RunUploadThread() noexcept;
    // Waits for the request; true when it completed, false when a stop request ended the wait.
    bool WaitForRequest(const System::Net::CHttpWebRequest& request);

    std::wstring m_QueuePath;
    std::wstring m_UserAgent;
    System::Win32::CHandleHolder m_QueueMutex;
    System::Win32::CHandleHolder m_UploadMutex;
    mutable System::Win32::CCriticalSection m_Lock;
    bool m_Uploading = false;
    System::Win32::CHandleHolder m_UploadThread;
    std::uint8_t m_Key = 0;
    System::Win32::CHandleHolder m_StopEvent;
    // Set by StopUpload before the stop event, so that a stop seen (and consumed) by any wait of the upload
    // thread ends the whole thread.
    std::atomic<bool> m_StopRequested{false};
};

} // namespace OV::Analytics
