#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

// The outcome of a run: the process exit code and, by its name, the analytics "ep.result" value.
// Ranges follow the stage that produces the code.
enum RunOutcome : std::uint32_t
{
    Success = 0x000,
    FailureUnknown = 0x001,
    SuccessMainOffline = 0x002,
    SuccessNoURL = 0x003,
    SuccessRejected = 0x004,
    FailureMainException = 0x100,
    FailureMainCommandLine = 0x101,
    FailureMainMutex = 0x102,
    FailureMainOffline = 0x103,
    FailureMainIsFileOrvaneSigned = 0x104,
    FailureOVThrowException = 0x105,
    FailureUIException = 0x200,
    FailureUICreateDialog = 0x201,
    FailureUIConstructor = 0x202,
    FailureUIThread = 0x203,
    FailureGetURLCWebRequest = 0x300,
    FailureGetURLTimeOut = 0x302,
    FailureGetURLBadLen = 0x303,
    FailureGetURLNoResp = 0x304,
    FailureParseURLResponse = 0x305,
    FailureGetEXESHGetFolderPath = 0x400,
    FailureGetEXEDeleteFile = 0x401,
    FailureGetEXECreateHttp = 0x402,
    FailureGetEXEDownloadIsOk = 0x403,
    FailureLaunchEXECoInitialize = 0x500,
    FailureLaunchEXEShellExecuteEx = 0x501,
    FailureIsWow64Process = 0x600,
    FailureSHGetSpecialFolderPath = 0x601,
    FailureParkEXEFileExists = 0x700,
    FailureParkEXECopyFile = 0x701,
    FailureParkEXEShellExecuteEx = 0x702,
};

// The outcome's name; "Unknown" for any code outside the table.
std::string GetResultName(std::uint32_t code);

} // namespace OV::Updater
