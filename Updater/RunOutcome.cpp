#include "Updater/RunOutcome.h"

namespace OV::Updater
{

std::string GetResultName(std::uint32_t code)
{
    switch (code)
    {
#define OV_RUN_OUTCOME_NAME(name, code)                                                                      \
    case name:                                                                                               \
        return #name;
        OV_RUN_OUTCOMES(OV_RUN_OUTCOME_NAME)
#undef OV_RUN_OUTCOME_NAME
    default:
        return "Unknown";
    }
}

} // namespace OV::Updater
