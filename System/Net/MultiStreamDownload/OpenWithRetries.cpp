#include "System/Net/MultiStreamDownload/OpenWithRetries.h"

#include "System/Win32/Thread.h"

namespace OV::System::Net::MultiStreamDownload
{

namespace
{
constexpr DWORD kMaxAttempts = 10;
}

Win32::CHandleHolder OpenWithRetries(const std::wstring& path, DWORD access, DWORD shareMode,
                                     DWORD disposition, Win32::CThread* stopOwner)
{
    for (DWORD attempt = 1;; ++attempt)
    {
        Win32::CHandleHolder file(::CreateFileW(path.c_str(), access, shareMode, nullptr, disposition,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid())
            return file;
        const DWORD error = ::GetLastError();
        const DWORD next = attempt + 1;
        if (next > kMaxAttempts)
        {
            ::SetLastError(error);
            return Win32::CHandleHolder();
        }
        const DWORD waitMs = 2 * next * next;
        if (stopOwner != nullptr)
        {
            if (stopOwner->WaitForStopSignal(waitMs))
            {
                ::SetLastError(ERROR_OPERATION_ABORTED);
                return Win32::CHandleHolder();
            }
        }
        else
        {
            ::Sleep(waitMs);
        }
    }
}

} // namespace OV::System::Net::MultiStreamDownload
