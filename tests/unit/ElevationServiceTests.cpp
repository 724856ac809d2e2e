// The elevation service as the updater calls it: a real COM local server in the test prefix.
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"
#include "Updater/ElevationClient.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using OV::System::Win32::CHandleHolder;
using OV::Updater::IOVElevationService;

namespace
{

std::wstring BuildFolder()
{
    // tests/unit/ov_unit_tests.exe -> the build folder two levels up.
    const std::wstring module = OV::System::IO::CFilePath::GetModuleDirectory();
    return OV::System::IO::CFilePath::GetParent(OV::System::IO::CFilePath::GetParent(module));
}

DWORD RunAndWait(const std::wstring& commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return 0xFFFFFFFF;
    CHandleHolder process(info.hProcess);
    CHandleHolder thread(info.hThread);
    ::WaitForSingleObject(process.Get(), 30000);
    DWORD exitCode = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
}

class ElevationServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::wstring service = BuildFolder() + L"\\ElevationService\\ElevationService.exe";
        ASSERT_EQ(0u, RunAndWait(L"\"" + service + L"\" /RegServer"));
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    }
    void TearDown() override { ::CoUninitialize(); }
};

struct ServiceTraits
{
    using Type = IOVElevationService*;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type p) { return p != nullptr; }
    static void Close(Type p) { p->Release(); }
};

} // namespace

TEST_F(ElevationServiceTest, StartsTheProgramAndHandsBackAHandleValidHere)
{
    OV::System::Win32::CUniqueHandle<ServiceTraits> service;
    ASSERT_EQ(S_OK, ::CoCreateInstance(OV::Updater::kElevationServiceClass, nullptr, CLSCTX_ALL,
                                       OV::Updater::kElevationServiceInterface,
                                       reinterpret_cast<void**>(service.Put())));
    const std::wstring folder = BuildFolder() + L"\\tools\\TestInstaller\\";
    const std::wstring ini = OV::System::GetProgramDataFolder() + L"\\OrvaneTest\\installer.ini";
    ::CreateDirectoryW((OV::System::GetProgramDataFolder() + L"\\OrvaneTest").c_str(), nullptr);
    ::WritePrivateProfileStringW(L"installer", L"ExitCode", L"7", ini.c_str());
    ::WritePrivateProfileStringW(L"installer", L"StepMs", L"10", ini.c_str());

    BSTR file = ::SysAllocString((L"\"" + folder + L"TestInstaller.exe\"").c_str());
    BSTR parameters = ::SysAllocString(L"/park=\"x\" /from-service");
    BSTR directory = ::SysAllocString(folder.c_str());
    ULONG processHandle = 0;
    ULONG secondHandle = 0;
    const HRESULT result = service.Get()->LaunchProcess(::GetCurrentProcessId(), file, parameters, directory,
                                                        0, 0, &processHandle, &secondHandle);
    ::SysFreeString(file);
    ::SysFreeString(parameters);
    ::SysFreeString(directory);

    ASSERT_EQ(S_OK, result);
    ASSERT_NE(0u, processHandle);
    CHandleHolder process(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processHandle)));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 30000));
    ::DeleteFileW(ini.c_str());
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &exitCode));
    EXPECT_EQ(7u, exitCode) << "the handle is the started installer's";
}

TEST_F(ElevationServiceTest, IsReachedThroughItsTypeLibraryAsADualInterface)
{
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, ::CoCreateInstance(OV::Updater::kElevationServiceClass, nullptr, CLSCTX_ALL,
                                       IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    LPOLESTR name = const_cast<LPOLESTR>(L"LaunchProcess");
    DISPID id = 0;
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);
    dispatch->Release();
}
