#include "Updater/RunOutcome.h"

#include <gtest/gtest.h>

using OV::Updater::GetResultName;

TEST(RunOutcome, NamesOfTheTable)
{
    const std::pair<std::uint32_t, const char*> table[] = {
        {0x000, "Success"},
        {0x001, "FailureUnknown"},
        {0x002, "SuccessMainOffline"},
        {0x003, "SuccessNoURL"},
        {0x004, "SuccessRejected"},
        {0x100, "FailureMainException"},
        {0x101, "FailureMainCommandLine"},
        {0x102, "FailureMainMutex"},
        {0x103, "FailureMainOffline"},
        {0x104, "FailureMainIsFileOrvaneSigned"},
        {0x105, "FailureOVThrowException"},
        {0x200, "FailureUIException"},
        {0x201, "FailureUICreateDialog"},
        {0x202, "FailureUIConstructor"},
        {0x203, "FailureUIThread"},
        {0x300, "FailureGetURLCWebRequest"},
        {0x302, "FailureGetURLTimeOut"},
        {0x303, "FailureGetURLBadLen"},
        {0x304, "FailureGetURLNoResp"},
        {0x305, "FailureParseURLResponse"},
        {0x400, "FailureGetEXESHGetFolderPath"},
        {0x401, "FailureGetEXEDeleteFile"},
        {0x402, "FailureGetEXECreateHttp"},
        {0x403, "FailureGetEXEDownloadIsOk"},
        {0x500, "FailureLaunchEXECoInitialize"},
        {0x501, "FailureLaunchEXEShellExecuteEx"},
        {0x600, "FailureIsWow64Process"},
        {0x601, "FailureSHGetSpecialFolderPath"},
        {0x700, "FailureParkEXEFileExists"},
        {0x701, "FailureParkEXECopyFile"},
        {0x702, "FailureParkEXEShellExecuteEx"},
    };
    for (const auto& [code, name] : table)
        EXPECT_EQ(name, GetResultName(code)) << std::hex << code;
}

TEST(RunOutcome, CodesOutsideTheTableAreUnknown)
{
    for (std::uint32_t code : {0x005u, 0x301u, 0x106u, 0x703u, 0x40010004u, 0xFFFFFFFFu})
        EXPECT_EQ("Unknown", GetResultName(code)) << std::hex << code;
}
