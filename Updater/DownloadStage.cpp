#include "Updater/DownloadStage.h"

#include "System/Exception.h"
#include "System/ExitCodeException.h"
#include "System/Net/HttpWebRequest.h"
#include "System/Net/MultiStreamDownload/HTTPDownload.h"
#include "System/RefPtr.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/RegistryKey.h"
#include "Updater/DownloadTarget.h"
#include "Updater/RunContext.h"
#include "Updater/RunOutcome.h"
#include "Updater/Service/Version.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace OV::Updater
{

namespace
{

const wchar_t kInstallStatusKey[] = L"HKLM\\Software\\Orvane\\InstallerStatus";
constexpr DWORD kPollMs = 50;
// The cap without an announced size.
constexpr std::uint64_t kMaxUnannouncedSize = std::uint64_t{1} << 32;

std::uint64_t SizeCap(std::int64_t announcedSize)
{
    return announcedSize > 0 ? static_cast<std::uint64_t>(announcedSize) : kMaxUnannouncedSize;
}

// Mirrors a download's progress into the window and, when asked for and the value already exists, into
// the install-status key's "Download" value.
class CDownloadProgressReporter
{
public:
    explicit CDownloadProgressReporter(bool emitDownloadProgress)
    {
        if (!emitDownloadProgress)
            return;
        try
        {
            auto key = std::make_unique<System::Win32::CRegistryKey>(kInstallStatusKey, false, 0);
            if (key->ValueExists(L"Download"))
                m_Key = std::move(key);
        }
        catch (...)
        {
            m_Key.reset(); // no registry progress; the download goes on
        }
    }

    void Report(float percent)
    {
        if (m_Key)
        {
            wchar_t text[64] = {};
            std::swprintf(text, 64, L"%f", static_cast<double>(percent));
            WriteValue(text);
        }
        PostProgressPosition(DownloadProgressPosition(percent));
        ::Sleep(kPollMs);
    }

    void Finish()
    {
        if (m_Key)
            WriteValue(L"100");
    }

private:
    void WriteValue(const std::wstring& text)
    {
        try
        {
            m_Key->SetString(L"Download", text);
        }
        catch (...)
        {
            // A registry write that fails must not end the download.
        }
    }

    std::unique_ptr<System::Win32::CRegistryKey> m_Key;
};

// What, beside the address, names the file a download is for: the announced size and hash (the hash in
// lower case, as it is compared).
std::string OfferIdentity(std::int64_t announcedSize, const std::string& announcedHash)
{
    std::string hash = announcedHash;
    for (char& c : hash)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return std::to_string(announcedSize) + "\n" + hash;
}

} // namespace

unsigned DownloadProgressPosition(float percent)
{
    const int position = 20 + static_cast<int>(0.3 * percent + 0.499);
    return position > 100 ? 100u : static_cast<unsigned>(position < 0 ? 0 : position);
}

MultiStreamResult DownloadMultiStream(const std::wstring& product, const std::string& address,
                                      bool emitDownloadProgress, std::int64_t announcedSize,
                                      const std::string& announcedHash)
{
    const DownloadTarget target = PrepareDownloadTarget(product, address);
    MultiStreamResult result;
    try
    {
        using System::Net::MultiStreamDownload::CHTTPDownload;
        System::Net::MultiStreamDownload::DownloadLimits limits;
        limits.maxSize =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(SizeCap(announcedSize), limits.maxSize));
        System::CRefPtr<CHTTPDownload> download(
            new CHTTPDownload(Service::kDownloadUserAgentW, OV::AnsiToWide(address), target.path, nullptr,
                              nullptr, 5, limits, OfferIdentity(announcedSize, announcedHash)));
        CDownloadProgressReporter progress(emitDownloadProgress);
        System::Net::MultiStreamDownload::DownloadStatus status = download->GetStatus();
        if (status.resumed)
            LogRunLine(L"Resuming the partial download of an earlier run: " +
                       OV::AnsiToWide(target.fileName));
        while (!status.finished && !status.failed)
        {
            progress.Report(status.percent);
            status = download->GetStatus();
        }
        progress.Finish();
        if (status.failed)
            throw System::CExitCodeException(FailureGetEXEDownloadIsOk);
        result.finished = true;
        result.path = target.path;
    }
    catch (const System::CExitCodeException&)
    {
        result.finished = false;
    }
    catch (const System::CException&)
    {
        ReportResultText(L"MultiStreamDownloadCException");
        result.finished = false;
    }
    catch (...)
    {
        ReportResultText(L"MultiStreamDownloadUnknownException");
        result.finished = false;
    }
    return result;
}

std::wstring DownloadSingleStream(const std::wstring& product, const std::string& address,
                                  bool emitDownloadProgress, std::int64_t announcedSize)
{
    const DownloadTarget target = PrepareDownloadTarget(product, address);
    System::Net::CHttpWebRequest request(address, target.path, 0);
    request.SetOutputFile(target.path);
    request.SetMaxLength(SizeCap(announcedSize));
    request.Start();
    CDownloadProgressReporter progress(emitDownloadProgress);
    while (!request.IsComplete())
        progress.Report(request.GetProgressPercent());
    progress.Finish();
    // A body cut short is a wrong file like any other: the size and hash checks decide on it.
    if (!request.Succeeded() && !request.EndedShortOnly())
        throw System::CExitCodeException(FailureGetEXEDownloadIsOk);
    return target.path;
}

} // namespace OV::Updater
