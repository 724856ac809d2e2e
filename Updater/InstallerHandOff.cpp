#include "Updater/InstallerHandOff.h"

#include "System/ExitCodeException.h"
#include "System/KnownFolders.h"
#include "System/SystemInfo.h"
#include "System/Win32/ComInitScope.h"
#include "System/Win32/ComPtr.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/RegistryKey.h"
#include "System/Win32/ShellStart.h"
#include "Updater/DownloadTarget.h"
#include "Updater/ElevationClient.h"
#include "Updater/RunContext.h"
#include "Updater/RunOutcome.h"
#include "Updater/Trust/FileSignature.h"
#include "Updater/Trust/ProtectedFolder.h"

#include <shellapi.h>

#include <cwchar>
#include <utility>

namespace OV::Updater
{

using System::CExitCodeException;
using System::Win32::CHandleHolder;

const wchar_t kParkingStopParameters[] = L"/EventTerminate \"Global\\OVPARKTERM\" /SignalTerminate";

namespace
{

const wchar_t kInstallStatusKey[] = L"HKEY_LOCAL_MACHINE\\Software\\Orvane\\InstallerStatus";

std::wstring FindParkingProgram(const std::wstring& parkPath)
{
    if (!parkPath.empty())
    {
        if (System::FileExists(parkPath))
            return parkPath;
        ReportResultText(L"SpecifiedParkMissing");
        throw CExitCodeException(FailureParkEXEFileExists);
    }
    const std::wstring folder = System::GetModuleDirectory();
    if (System::FileExists(folder + L"Park.exe"))
        return folder + L"Park.exe";
    if (System::FileExists(folder + L"PatchTools\\Park.exe"))
        return folder + L"PatchTools\\Park.exe";
    throw CExitCodeException(FailureParkEXEFileExists);
}

// Asks the elevation service to start the installer; a null holder when it cannot.
CHandleHolder StartThroughService(const std::wstring& installerPath, const std::wstring& parameters,
                                  const std::wstring& folder)
{
    const System::Win32::CComInitScope com;
    const HRESULT initialised = com.GetResult();
    if (initialised != S_OK && initialised != S_FALSE && initialised != RPC_E_CHANGED_MODE)
        throw CExitCodeException(FailureLaunchEXECoInitialize);

    CHandleHolder process;
    {
        std::wstring serverFolder;
        if (System::GetComServerFolder(kElevationServiceClass, serverFolder))
        {
            System::Win32::CComPtr<IOVElevationService> service;
            const HRESULT created =
                ::CoCreateInstance(kElevationServiceClass, nullptr, CLSCTX_ALL, kElevationServiceInterface,
                                   reinterpret_cast<void**>(service.Put()));
            if (FAILED(created))
            {
                ReportResultText(L"ServiceCreate");
            }
            else if (service)
            {
                System::Win32::CBstr file(::SysAllocString((L"\"" + installerPath + L"\"").c_str()));
                System::Win32::CBstr arguments(::SysAllocString(parameters.c_str()));
                System::Win32::CBstr directory(::SysAllocString(folder.c_str()));
                ULONG processHandle = 0;
                ULONG secondHandle = 0;
                const HRESULT launched =
                    service.Get()->LaunchProcess(::GetCurrentProcessId(), file.Get(), arguments.Get(),
                                                 directory.Get(), 0, 0, &processHandle, &secondHandle);
                if (SUCCEEDED(launched) && processHandle != 0)
                {
                    service.Reset();
                    CHandleHolder second(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(secondHandle)));
                    process.Reset(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processHandle)));
                }
                else
                {
                    ReportResultText(L"ServiceInvoke");
                }
            }
        }
        else
        {
            ReportResultText(L"ServiceMissing");
        }
    }
    return process;
}

void MirrorProgressUntilExit(HANDLE process)
{
    while (::WaitForSingleObject(process, 200) == WAIT_TIMEOUT)
    {
        std::wstring text;
        try
        {
            System::Win32::CRegistryKey key(kInstallStatusKey, true, 0);
            text = key.GetString(L"Install", L"100.0");
        }
        catch (...)
        {
            text.clear(); // unreadable: position 55
        }
        const int position = InstallProgressPosition(text);
        if (position >= 0)
            PostProgressPosition(static_cast<unsigned>(position));
    }
}

} // namespace

std::wstring InstallerFolder(const std::wstring& installerPath)
{
    const size_t last = installerPath.rfind(L'\\');
    return last == std::wstring::npos ? installerPath + L"\\" : installerPath.substr(0, last + 1);
}

std::wstring InstallerParameters(const std::wstring& parkingCopy, const std::wstring& installerArgs)
{
    std::wstring parameters = L"/park=\"" + parkingCopy + L"\"";
    if (!installerArgs.empty())
        parameters += L" " + installerArgs;
    return parameters;
}

std::wstring ParkingParameters(const std::wstring& clientExecutable, const std::wstring& locale,
                               const std::wstring& appArgs, const std::wstring& dp)
{
    const std::wstring tail = appArgs.empty() ? L" /dp " + dp : L" " + appArgs;
    return L"/Execute \"" + clientExecutable + L"\" /LaunchParams \"/noupdate! /userlocale " + locale + tail +
           L"\" /EventTerminate \"Global\\OVPARKTERM\" /EventExecute \"Global\\OVPARKEXEC\"";
}

int InstallProgressPosition(const std::wstring& installText)
{
    const double percent = std::wcstod(installText.c_str(), nullptr);
    if (!(percent < 100.0))
        return -1;
    const int position = 55 + static_cast<int>(0.45 * percent + 0.499);
    return position > 100 ? 100 : position;
}

namespace
{

// Where the programs of the hand-off start from: the download folder for a limited process (whatever it
// starts runs with its own rights), a protected folder for an elevated one.
struct StartPlace
{
    std::wstring folder;
    std::wstring parkingCopy;
    std::wstring installerPath;
    std::wstring installerFolder;
};

constexpr ULONG kParkMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;

[[noreturn]] void FailInstallerStart(const HandOffRequest& request, const std::wstring& parkingCopy,
                                     const std::wstring& parkingFolder)
{
    ReportResultText(L"ShellExecPatch");
    if (request.parking)
    {
        ::Sleep(1000);
        System::Win32::ShellStart(parkingCopy, kParkingStopParameters, parkingFolder, kParkMask);
    }
    throw CExitCodeException(FailureLaunchEXEShellExecuteEx);
}

// Starts the parking copy, which restarts the client once the installer has run.
void StartParking(const HandOffRequest& request, const StartPlace& place)
{
    const std::wstring client = System::GetProgramFilesX86Folder() + L"\\Orvane Games\\App\\PlayDock-ov.exe";
    const std::wstring parameters = ParkingParameters(client, request.locale, request.appArgs, request.dp);
    if (!System::Win32::ShellStart(place.parkingCopy, parameters, place.folder, kParkMask))
    {
        ReportResultText(L"ShellExecPark");
        throw CExitCodeException(FailureParkEXEShellExecuteEx);
    }
}

} // namespace

std::uint32_t RunInstaller(HandOffRequest& request)
{
    const std::wstring source = FindParkingProgram(request.parkPath);
    const bool elevated = System::IsProcessElevated(nullptr);

    StartPlace place;
    Trust::CProtectedFolder staging;
    if (elevated)
    {
        if (!staging.Create())
        {
            ReportResultText(L"ShellExecPatch");
            throw CExitCodeException(FailureLaunchEXEShellExecuteEx);
        }
        place.folder = staging.Path();
    }
    else
    {
        place.folder = DownloadFolder(request.product);
    }
    place.parkingCopy = place.folder + L"\\Park-{" + System::NewGuidText() + L"}.exe";
    place.installerPath = request.installerPath;
    place.installerFolder = InstallerFolder(request.installerPath);

    if (!::CopyFileW(source.c_str(), place.parkingCopy.c_str(), FALSE))
    {
        ::DeleteFileW(place.parkingCopy.c_str());
        throw CExitCodeException(FailureParkEXECopyFile);
    }

    const std::wstring installerParameters = InstallerParameters(place.parkingCopy, request.installerArgs);
    if (request.parking)
        StartParking(request, place);

    CHandleHolder process;
    Trust::CHeldFile stagedInstaller;
    if (elevated)
    {
        // The copy is made from the held, checked file and verified again where it will run.
        const std::wstring name = request.installerPath.substr(request.installerPath.rfind(L'\\') + 1);
        if (!staging.Stage(request.heldInstaller, name, stagedInstaller) ||
            !Trust::IsHeldFileOrvaneSigned(stagedInstaller))
            FailInstallerStart(request, place.parkingCopy, place.folder);
        place.installerPath = stagedInstaller.Path();
        place.installerFolder = place.folder + L"\\";
    }
    else
    {
        process = StartThroughService(place.installerPath, installerParameters, place.installerFolder);
    }

    if (!process)
    {
        System::Win32::ShellStarted started =
            System::Win32::ShellStart(place.installerPath, installerParameters, place.installerFolder,
                                      SEE_MASK_NOCLOSEPROCESS | kParkMask);
        if (!started)
            FailInstallerStart(request, place.parkingCopy, place.folder);
        process = std::move(started.process);
    }
    // Started: the files may change now without changing what runs.
    request.heldInstaller.Release();
    stagedInstaller.Release();

    MirrorProgressUntilExit(process.Get());
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
}

} // namespace OV::Updater
