#pragma once

#include "Analytics/AnalyticsQueue.h"
#include "Analytics/AnalyticsUploader.h"
#include "System/Object.h"
#include "System/Platform.h"
#include "System/RefPtr.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Synchronization.h"

#include <cstdint>
#include <string>

namespace OV::Analytics
{

// The analytics of one data file: its persistent queue (CAnalyticsQueue) and its upload, one
// CAnalyticsUploader thread at a time, sending to the address that the derived class names.
//
// Locks: m_Lock guards only m_Uploader and is never held while waiting for a named mutex.
class CAnalyticsBase : public System::CReferenceCounted, public CAnalyticsQueue, public IUploadTarget
{
public:
    ~CAnalyticsBase() override;

    // A record with an extra text is sent as a POST with that text as its body.
    void PrepareRequest(System::Net::CHttpWebRequest& request, const std::string& extraText) const override;

    // Starts the upload thread unless it runs; true when it started one. Refused while one runs, the start
    // makes that thread look at the queue once more before it ends.
    bool StartUpload();
    // Ends the upload thread and returns once it has ended. A request in flight gets
    // CAnalyticsUploader::kStopGraceMs to finish.
    void StopUpload();
    bool IsUploading() const;

    const std::wstring& GetUserAgent() const { return m_UserAgent; }

    static std::wstring GetUploadMutexName(const std::wstring& dataFileName);

protected:
    // Throws CException when a named mutex cannot be created.
    explicit CAnalyticsBase(const std::wstring& dataFileName);

private:
    std::wstring m_UserAgent;
    System::Win32::CHandleHolder m_UploadMutex;
    mutable System::Win32::CCriticalSection m_Lock;
    System::CRefPtr<CAnalyticsUploader> m_Uploader;
};

} // namespace OV::Analytics
