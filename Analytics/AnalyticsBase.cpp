#include "Analytics/AnalyticsBase.h"

#include "System/ErrorBoundary.h"
#include "System/Io/Directory.h"
#include "System/Net/HttpWebRequest.h"

namespace OV::Analytics
{

namespace
{

constexpr char kSource[] = "Ov\\Analytics\\AnalyticsBase.cpp";
// The line that the upload mutex failure carries.
constexpr System::FixedPlace kUploadMutexFailure(190);

bool IsRunning(const System::CRefPtr<CAnalyticsUploader>& uploader)
{
    return uploader && uploader->GetState() == System::Win32::ThreadState::Running;
}

} // namespace

std::wstring CAnalyticsBase::GetUploadMutexName(const std::wstring& dataFileName)
{
    return GetQueueMutexName(dataFileName) + L"_uld";
}

CAnalyticsBase::CAnalyticsBase(const std::wstring& dataFileName)
    : CAnalyticsQueue(dataFileName), m_UserAgent(CAnalyticsUploader::BuildUserAgent())
{
    const std::wstring uploadMutexName = GetUploadMutexName(dataFileName);
    m_UploadMutex.Reset(::CreateMutexW(nullptr, FALSE, uploadMutexName.c_str()));
    if (!m_UploadMutex)
        OV_THROW_AT(kUploadMutexFailure, L"Failed to create upload mutex: " + uploadMutexName);

    System::IO::CDirectory::CreateParentDirectory(GetQueuePath());
    // Queues of earlier formats are never read again.
    ::DeleteFileW(GetQueuePathFor(L"OVAnalytics.dat").c_str());
    ::DeleteFileW(GetQueuePathFor(L"OVAnalyticsForGA.dat").c_str());
}

CAnalyticsBase::~CAnalyticsBase()
{
    StopUpload();
}

void CAnalyticsBase::PrepareRequest(System::Net::CHttpWebRequest& request, const std::string& extraText) const
{
    if (extraText.empty())
        return;
    request.SetVerb("POST");
    request.SetRequestBody(extraText.data(), extraText.size());
}

bool CAnalyticsBase::StartUpload()
{
    System::Win32::CCriticalSectionLock hold(m_Lock);
    if (IsRunning(m_Uploader))
    {
        if (m_Uploader->AskToLookAgain())
            return false;
        // It has decided to end and is about to: let it, then start the next one.
        m_Uploader->WaitForExit();
    }
    try
    {
        auto uploader = System::MakeRef<CAnalyticsUploader>(*this, *this, m_UploadMutex.Get(), m_UserAgent);
        uploader->ThreadStart();
        m_Uploader = std::move(uploader);
        return true;
    }
    catch (const System::CException&)
    {
        return false;
    }
}

void CAnalyticsBase::StopUpload()
{
    System::CRefPtr<CAnalyticsUploader> uploader;
    {
        System::Win32::CCriticalSectionLock hold(m_Lock);
        uploader = std::move(m_Uploader);
    }
    if (uploader)
        uploader->Stop(INFINITE);
}

bool CAnalyticsBase::IsUploading() const
{
    System::Win32::CCriticalSectionLock hold(m_Lock);
    return IsRunning(m_Uploader);
}

} // namespace OV::Analytics
