#include "Updater/UpdateRun.h"

#include "System/Exception.h"
#include "System/Io/Directory.h"
#include "System/Io/FilePath.h"
#include "System/KnownFolders.h"
#include "System/Log.h"
#include "System/Platform.h"
#include "Updater/CommandLine.h"
#include "Updater/OptionsText.h"
#include "Updater/RunOutcome.h"

namespace OV::Updater
{

namespace
{

// Set-up failures before the protected section end the run in order with this code.
constexpr std::int32_t kFailureMainException = FailureMainException;

void OpenRunLog(const RunOptions& options)
{
    using System::IO::CFilePath;
    const std::wstring folder =
        CFilePath::Combine(System::GetRoamingAppDataFolder(nullptr), L"Orvane\\Orvane Games\\App\\Update");
    const std::wstring file = CFilePath::Combine(folder, options.product + L"_Update.log");
    if (!System::IO::CDirectory::Exists(CFilePath::GetDirectoryName(file)))
        System::IO::CDirectory::Create(CFilePath::GetDirectoryName(file), nullptr);
    System::CLog::SetOutputFile(file, false);
}

} // namespace

std::int32_t UpdateRun()
{
    RunOptions options;
    try
    {
        options = ParseCommandLine();
        OpenRunLog(options);
    }
    catch (...)
    {
        return kFailureMainException;
    }
    ::OutputDebugStringW((L"Updater " + DescribeOptions(options) + L"\n").c_str());
    return 0;
}

} // namespace OV::Updater
