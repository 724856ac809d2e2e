#pragma once

#include "System/ErrorText.h"
#include "System/Platform.h"

#include <string>
#include <string_view>

namespace OV::System::Win32
{

// prefix + the system's text for code.
inline std::string WithErrorText(std::string_view prefix, DWORD code)
{
    std::string message(prefix);
    message += GetErrorText(code);
    return message;
}

} // namespace OV::System::Win32
