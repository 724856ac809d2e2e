#include "Updater/RunOutcome.h"

#include <gtest/gtest.h>

using OV::Updater::GetResultName;

// The names come from the same list as the codes, so each outcome is named by its own identifier.
TEST(RunOutcome, EveryOutcomeIsNamedByItsIdentifier)
{
#define OV_EXPECT_OWN_NAME(name, code) EXPECT_EQ(#name, GetResultName(OV::Updater::name)) << std::hex << code;
    OV_RUN_OUTCOMES(OV_EXPECT_OWN_NAME)
#undef OV_EXPECT_OWN_NAME
}

TEST(RunOutcome, CodesOutsideTheTableAreUnknown)
{
    for (std::uint32_t code : {0x005u, 0x301u, 0x106u, 0x703u, 0x40010004u, 0xFFFFFFFFu})
        EXPECT_EQ("Unknown", GetResultName(code)) << std::hex << code;
}
