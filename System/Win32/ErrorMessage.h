#pragma once

#include "System/ErrorText.h"
#include "System/Platform.h"

#include <string>
#include <string_view>

namespace OV::System::Win32
{

// prefix + the system's text for code. Formatting the text may change the thread's last error, so the code
// is put back afterwards: a CException constructed from the result then records the failure's own code.
inline std::string WithErrorText(std::string_view prefix, DWORD code)
{
    std::string message(prefix);
    message += GetErrorText(code);
    ::SetLastError(code);
    return message;
}

} // namespace OV::System::Win32
