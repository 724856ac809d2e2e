#include "Updater/UpdateRun.h"

#include "System/Exception.h"
#include "System/ExitCodeException.h"
#include "System/Io/Directory.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Log.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/Event.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/RegistryKey.h"
#include "Updater/CommandLine.h"
#include "Updater/DownloadStage.h"
#include "Updater/DownloadTarget.h"
#include "Updater/InstallerChecks.h"
#include "Updater/InstallerHandOff.h"
#include "Updater/OptionsText.h"
#include "Updater/RunContext.h"
#include "Updater/RunOutcome.h"
#include "Analytics/AnalyticsReporter.h"
#include "Updater/Service/UpdateQuery.h"
#include "Updater/Service/Version.h"
#include "Updater/Ui/ProgressWindow.h"
#include "Updater/Ui/ResourceIds.h"
#include "Updater/Ui/StringTable.h"

#include <objbase.h>

#include <cwchar>
#include <memory>
#include <optional>

namespace OV::Updater
{

namespace
{

using System::CExitCodeException;
using System::Win32::CEvent;

const wchar_t kEventPrefix[] = L"{FCBD3DBA-DB17-4EC5-999E-5CF45A722924}";
const wchar_t kDenyPrefix[] = L"{F7960AE2-D719-4F0D-9A10-B207F8DACB24}";
constexpr DWORD kDbgTerminateProcess = 0x40010004;

// The product names the log file and the download folder, so a name that is not a plain file name
// ("..\..\x", "C:\x", "a/b", or too long for one) would put files outside the program's folders or
// none at all. Such a product is refused like an empty one.
bool IsUsableProductName(const std::wstring& product)
{
    constexpr std::size_t kLongestFileName = 255;
    constexpr std::size_t kLogSuffixLength = sizeof("_Update.log") - 1;
    if (product.find_first_not_of(L'.') == std::wstring::npos ||
        product.size() + kLogSuffixLength > kLongestFileName)
        return false;
    for (const wchar_t c : product)
    {
        if (c < L' ' || std::wcschr(L"\\/:*?\"<>|", c) != nullptr)
            return false;
    }
    return true;
}

void OpenRunLog(const RunOptions& options)
{
    using System::IO::CFilePath;
    const std::wstring folder =
        CFilePath::Combine(System::GetRoamingAppDataFolder(nullptr), L"Orvane\\Orvane Games\\App\\Update");
    const std::wstring product = IsUsableProductName(options.product) ? options.product : std::wstring();
    const std::wstring file = CFilePath::Combine(folder, product + L"_Update.log");
    if (!System::IO::CDirectory::Exists(CFilePath::GetDirectoryName(file)))
        System::IO::CDirectory::Create(CFilePath::GetDirectoryName(file), nullptr);
    System::CLog::SetOutputFile(file, false);
}

// The pause before the window shows and its minimum show time; the debugging key is normally absent.
void ReadWindowTimings()
{
    std::uint32_t pause = 1000;
    std::uint32_t minimum = 500;
    try
    {
        System::Win32::CRegistryKey key(L"HKEY_LOCAL_MACHINE\\Software\\Orvane\\Debugging", true, 0);
        pause = key.GetUint32(L"UpdaterPauseBeforeDialogMs", 1000);
        minimum = key.GetUint32(L"UpdaterMinDialogShowTimeMs", 500);
    }
    catch (...)
    {
    }
    Ui::CProgressWindow::SetPauseBeforeShowing(static_cast<std::int32_t>(pause));
    Ui::CProgressWindow::SetMinimumShowTime(static_cast<std::int32_t>(minimum));
}

// The window's dialog owns the run's message boxes (made for the box when the pause has not made it yet);
// once its thread has closed a dialog that was never shown, the box stands on its own rather than not
// appearing at all.
HWND OwnerFor(const Ui::CProgressWindow& window)
{
    const HWND dialog = window.MakeDialog();
    return dialog != nullptr && ::IsWindow(dialog) ? dialog : nullptr;
}

bool NetworkAvailable()
{
    // The multithreaded apartment: a single-threaded one makes its hidden window (and so loads the theme
    // engine) for a check that needs no window.
    const System::Win32::CComInitScope com(COINIT_MULTITHREADED);
    return System::IsNetworkAvailable();
}

struct InstallerOffer
{
    std::string address;
    std::string hash;
    std::int64_t size = 0;
    std::string version;
};

InstallerOffer AskForInstaller(const RunOptions& options)
{
    InstallerOffer offer;
    if (!options.patchURL.empty())
    {
        offer.address = OV::WideToAnsi(options.patchURL);
        return offer;
    }
    const std::uint32_t result = Service::QueryClientUpdate(
        options.dev ? "http" : "https", OV::WideToAnsi(options.product), options.channel,
        OV::WideToAnsi(options.dp), Service::GetFileProductVersion(options.from), Service::kProductToken,
        Service::kUpdaterVersion, nullptr, offer.address, offer.hash, offer.size, offer.version);
    if (result != 0)
        throw CExitCodeException(result);
    return offer;
}

// Attempt 0 with the multi-stream engine, attempt 1 with one plain request; the first file that passes
// its checks is the installer.
Trust::CHeldFile DownloadAndVerify(const RunOptions& options, const InstallerOffer& offer,
                                   Ui::CProgressWindow& window, const Ui::CStringTable& strings)
{
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        const std::wstring suffix = attempt == 0 ? L"2" : L"";
        std::wstring path;
        if (attempt == 0)
        {
            const MultiStreamResult result = DownloadMultiStream(
                options.product, offer.address, options.emitDownloadProgress, offer.size, offer.hash);
            if (!result.finished)
                continue;
            path = result.path;
        }
        else
        {
            path = DownloadSingleStream(options.product, offer.address, options.emitDownloadProgress,
                                        offer.size);
        }
        PostProgressPosition(50);
        window.SetStatusText(strings.LoadString(IDS_STATUS_APPLYING));
        Trust::CHeldFile held;
        if (CheckDownloadedInstaller(path, offer.size, offer.hash, suffix, held))
            return held;
    }
    throw CExitCodeException(FailureMainIsFileOrvaneSigned);
}

// The decision events that the client opens by name; automatic-reset, created not signalled.
struct DecisionEvents
{
    std::optional<CEvent> no;
    std::optional<CEvent> yes;
    std::optional<CEvent> deny;
};

// Everything between the product check and the end of the hand-off. Objects made here (the window, the
// mutex handle) are gone before a failure reaches the handlers.
std::int32_t RunProtectedSection(RunOptions& options, const Ui::CStringTable& strings, DecisionEvents& events)
{
    if (!IsUsableProductName(options.product))
        throw CExitCodeException(FailureMainCommandLine);

    const std::wstring mutexName =
        std::wstring(kEventPrefix) + (options.from.empty() ? L"-Updater2-" : L"-Updater-") + options.product;
    System::Win32::CHandleHolder mutex(::CreateMutexW(nullptr, TRUE, mutexName.c_str()));
    if (!mutex)
        throw CExitCodeException(FailureMainMutex);
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        throw CExitCodeException(FailureMainMutex);

    events.no.emplace(false, false, std::wstring(kEventPrefix) + L"-UpdateNo-" + options.product);
    events.yes.emplace(false, false, std::wstring(kEventPrefix) + L"-UpdateYes-" + options.product);
    events.deny.emplace(false, false, std::wstring(kDenyPrefix) + L"-UpdateDeny-" + options.product);

    CleanDownloadFolder(options.product);

    Ui::CProgressWindow window(strings.LoadString(IDS_TITLE), strings.LoadString(IDS_STATUS_CHECKING),
                               options.showProgress);

    if (!NetworkAvailable())
    {
        std::int32_t result = SuccessMainOffline;
        if (options.from.empty())
        {
            window.SignalStop();
            // No owner: the dialog is closing, and a box owned by it would be destroyed with it before
            // the user could read it.
            ::MessageBoxW(nullptr, strings.LoadString(IDS_OFFLINE_TEXT).c_str(),
                          strings.LoadString(IDS_TITLE).c_str(), MB_ICONERROR);
            result = FailureMainOffline;
        }
        events.no->Set();
        return result;
    }
    PostProgressPosition(10);

    const InstallerOffer offer = AskForInstaller(options);
    PostProgressPosition(20);
    if (offer.address.empty())
    {
        DiscardPartialDownloads(options.product);
        events.no->Set();
        Analytics::CAnalyticsReporter::DropCurrent();
        return SuccessNoURL;
    }
    // An installer is offered: from here on the window has work (the boxes' owner, the bar that follows the
    // download and the installer), so its dialog is made now rather than when the pause is over. A run that
    // ended above never made one.
    window.MakeDialog();

    if (options.prompt)
    {
        const int answer = ::MessageBoxW(OwnerFor(window), strings.LoadString(IDS_PROMPT_TEXT).c_str(),
                                         strings.LoadString(IDS_TITLE).c_str(), MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES)
        {
            events.deny->Set();
            events.no->Set();
            return SuccessRejected;
        }
    }
    else if (options.notify)
    {
        ::MessageBoxW(OwnerFor(window), strings.LoadString(IDS_NOTIFY_TEXT).c_str(),
                      strings.LoadString(IDS_TITLE).c_str(), MB_ICONINFORMATION);
    }
    window.SetStatusText(strings.LoadString(IDS_STATUS_DOWNLOADING));

    Trust::CHeldFile installer = DownloadAndVerify(options, offer, window, strings);

    events.yes->Set();
    PostProgressPosition(55);
    HandOffRequest request;
    request.product = options.product;
    request.installerPath = installer.Path();
    request.heldInstaller = std::move(installer);
    request.locale = options.locale;
    request.installerArgs = options.installerArgs;
    request.parking = options.parking;
    request.parkPath = options.parkPath;
    request.appArgs = options.appArgs;
    request.dp = options.dp;
    const std::uint32_t exitCode = RunInstaller(request);
    window.SignalStop();
    if (exitCode == 0)
        ReportSucceeded();
    else if (exitCode == kDbgTerminateProcess)
        ReportResultText(L"DbgTerminateProcess");
    else
        ReportResultText(L"InstallerExitCode" + std::to_wstring(exitCode));
    return Success;
}

std::int32_t HandleFailure(std::int32_t result, DecisionEvents& events)
{
    if (events.no)
        events.no->Set();
    ReportResult(static_cast<std::uint32_t>(result));
    Analytics::CAnalyticsReporter::DropCurrent();
    return result;
}

} // namespace

std::int32_t UpdateRun()
{
    RunOptions options;
    std::unique_ptr<Ui::CStringTable> strings;
    try
    {
        options = ParseCommandLine();
        OpenRunLog(options);
        ReadWindowTimings();
        strings = std::make_unique<Ui::CStringTable>(options.locale);
        if (options.locale.empty())
            options.locale = strings->GetLocaleName();
        Analytics::CAnalyticsReporter::SetCurrent(System::MakeRef<Analytics::CAnalyticsReporter>(
            options.dp, options.locale, options.product, Service::kUpdaterVersionW));
    }
    catch (...)
    {
        // The set-up has no outcome event of its own: end in order.
        return FailureMainException;
    }
    for (const std::wstring& line : DescribeOptions(options))
        ::OutputDebugStringW((L"Updater option " + line + L"\n").c_str());

    DecisionEvents events;
    std::int32_t result = Success;
    try
    {
        result = RunProtectedSection(options, *strings, events);
    }
    catch (const CExitCodeException& e)
    {
        return HandleFailure(static_cast<std::int32_t>(e.GetExitCode()), events);
    }
    catch (const System::CException&)
    {
        return HandleFailure(FailureOVThrowException, events);
    }
    catch (...)
    {
        return HandleFailure(FailureMainException, events);
    }
    Analytics::CAnalyticsReporter::DropCurrent();
    return result;
}

} // namespace OV::Updater
