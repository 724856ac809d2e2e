#pragma once

#include "System/Exception.h"

#include <optional>

namespace OV::Tests
{

// Runs action and returns the CException it threw, or nothing when it threw none.
template <typename Action>
std::optional<System::CException> CatchException(Action&& action)
{
    try
    {
        action();
    }
    catch (const System::CException& caught)
    {
        return std::optional<System::CException>(std::in_place, caught);
    }
    return std::nullopt;
}

} // namespace OV::Tests
