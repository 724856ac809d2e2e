#pragma once

#include <cstdint>
#include <string>

namespace OV::Updater
{

// The outcomes of a run, each once: the enum and the names below are both made from this list.
// Ranges follow the stage that produces the code.
#define OV_RUN_OUTCOMES(X)                                                                                   \
    X(Success, 0x000)                                                                                        \
    X(FailureUnknown, 0x001)                                                                                 \
    X(SuccessMainOffline, 0x002)                                                                             \
    X(SuccessNoURL, 0x003)                                                                                   \
    X(SuccessRejected, 0x004)                                                                                \
    X(FailureMainException, 0x100)                                                                           \
    X(FailureMainCommandLine, 0x101)                                                                         \
    X(FailureMainMutex, 0x102)                                                                               \
    X(FailureMainOffline, 0x103)                                                                             \
    X(FailureMainIsFileOrvaneSigned, 0x104)                                                                  \
    X(FailureOVThrowException, 0x105)                                                                        \
    X(FailureUIException, 0x200)                                                                             \
    X(FailureUICreateDialog, 0x201)                                                                          \
    X(FailureUIConstructor, 0x202)                                                                           \
    X(FailureUIThread, 0x203)                                                                                \
    X(FailureGetURLCWebRequest, 0x300)                                                                       \
    X(FailureGetURLTimeOut, 0x302)                                                                           \
    X(FailureGetURLBadLen, 0x303)                                                                            \
    X(FailureGetURLNoResp, 0x304)                                                                            \
    X(FailureParseURLResponse, 0x305)                                                                        \
    X(FailureGetEXESHGetFolderPath, 0x400)                                                                   \
    X(FailureGetEXEDeleteFile, 0x401)                                                                        \
    X(FailureGetEXECreateHttp, 0x402)                                                                        \
    X(FailureGetEXEDownloadIsOk, 0x403)                                                                      \
    X(FailureLaunchEXECoInitialize, 0x500)                                                                   \
    X(FailureLaunchEXEShellExecuteEx, 0x501)                                                                 \
    X(FailureIsWow64Process, 0x600)                                                                          \
    X(FailureSHGetSpecialFolderPath, 0x601)                                                                  \
    X(FailureParkEXEFileExists, 0x700)                                                                       \
    X(FailureParkEXECopyFile, 0x701)                                                                         \
    X(FailureParkEXEShellExecuteEx, 0x702)

// The outcome of a run: the process exit code and, by its name, the analytics "ep.result" value.
enum RunOutcome : std::uint32_t
{
#define OV_RUN_OUTCOME_ENUMERATOR(name, code) name = code,
    OV_RUN_OUTCOMES(OV_RUN_OUTCOME_ENUMERATOR)
#undef OV_RUN_OUTCOME_ENUMERATOR
};

// The outcome's name; "Unknown" for any code outside the table.
std::string GetResultName(std::uint32_t code);

} // namespace OV::Updater
