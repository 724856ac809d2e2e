#include "System/Win32/Event.h"

#include "System/Exception.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/ErrorMessage.h"

namespace OV::System::Win32
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Win32\\Event.cpp";
constexpr char kConstructor[] = "OV::System::Win32::CEvent::CEvent";
} // namespace

CEvent::CEvent(bool initialState, bool manualReset)
{
    m_Handle.Reset(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr));
    if (!m_Handle)
    {
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, kConstructor, WithErrorText("Failed to create event: ", error));
    }
}

CEvent::CEvent(bool initialState, bool manualReset, const std::wstring& name)
{
    m_Handle.Reset(
        ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name.c_str()));
    if (!m_Handle)
    {
        const DWORD error = ::GetLastError();
        const std::wstring message = L"Failed to create event: " + name + L"  " + GetErrorTextW(error);
        std::string narrow;
        try
        {
            narrow = WideToAnsi(message);
        }
        catch (const CException&)
        {
            // A name the narrow code page cannot hold: keep the wide text rather than lose the failure.
            ::SetLastError(error);
            throw CException(kSource, __LINE__, kConstructor, std::wstring_view(message));
        }
        ::SetLastError(error);
        throw CException(kSource, __LINE__, kConstructor, std::string_view(narrow));
    }
}

void CEvent::Set()
{
    if (!::SetEvent(m_Handle.Get()))
    {
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, "OV::System::Win32::CEvent::Set",
                         WithErrorText("Failed to Set event: ", error));
    }
}

void CEvent::Reset()
{
    if (!::ResetEvent(m_Handle.Get()))
    {
        const DWORD error = ::GetLastError();
        throw CException(kSource, __LINE__, "OV::System::Win32::CEvent::Reset",
                         WithErrorText("Failed to Reset event: ", error));
    }
}

} // namespace OV::System::Win32
