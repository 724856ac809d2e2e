#include "System/ErrorText.h"

#include "System/Platform.h"
#include "System/String/AnsiWideNoThrow.h"

namespace OV::System
{

std::string GetErrorText(std::uint32_t code)
{
    char buffer[1024] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof(buffer), nullptr);
    if (length == 0)
        return "(No Error Description)\r\n";
    return std::string(buffer, length);
}

std::wstring GetErrorTextW(std::uint32_t code)
{
    return OV::AnsiToWideNoThrow(GetErrorText(code));
}

} // namespace OV::System
