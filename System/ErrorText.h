#pragma once

#include <cstdint>
#include <string>

namespace OV::System
{

// The system's message for a Win32 error code, or "(No Error Description)\r\n".
std::string GetErrorText(std::uint32_t code);
std::wstring GetErrorTextW(std::uint32_t code);

} // namespace OV::System
