#include "System/LogLine.h"

#include "System/Io/Directory.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/HandleHolder.h"

#include <cstdio>

namespace OV::System
{

void AppendLogLine(const std::wstring& path, const std::wstring& line)
{
    try
    {
        IO::CDirectory::CreateParentDirectory(path);
        SYSTEMTIME now = {};
        ::GetSystemTime(&now);
        wchar_t stamp[64] = {};
        std::swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                      ::GetCurrentProcessId());
        const Win32::CHandleHolder file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
        {
            const std::string text = OV::Utf16ToUtf8(stamp + line + L"\r\n");
            DWORD written = 0;
            ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        }
    }
    catch (...)
    {
    }
}

} // namespace OV::System
