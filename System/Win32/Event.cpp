#include "System/Win32/Event.h"

#include "System/ErrorBoundary.h"
#include "System/String/AnsiWide.h"
#include "System/Win32/ErrorMessage.h"

namespace OV::System::Win32
{

namespace
{
constexpr char kSource[] = "Ov\\System\\Win32\\Event.cpp";
} // namespace

CEvent::CEvent(bool initialState, bool manualReset)
{
    m_Handle.Reset(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr));
    OV_THROW_LAST_ERROR_IF(!m_Handle, WithErrorText("Failed to create event: ", ::GetLastError()));
}

CEvent::CEvent(bool initialState, bool manualReset, const std::wstring& name)
{
    m_Handle.Reset(
        ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name.c_str()));
    if (m_Handle)
        return;
    const RaisePlace place = OV_HERE;
    const std::wstring message = L"Failed to create event: " + name + L"  " + GetErrorTextW(place.lastError);
    std::string narrow;
    try
    {
        narrow = WideToAnsi(message);
    }
    catch (const CException&)
    {
        // A name the narrow code page cannot hold: keep the wide text rather than lose the failure.
        throw CException(place, std::wstring_view(message));
    }
    throw CException(place, std::string_view(narrow));
}

void CEvent::Set()
{
    OV_THROW_LAST_ERROR_IF(!::SetEvent(m_Handle.Get()),
                           WithErrorText("Failed to Set event: ", ::GetLastError()));
}

void CEvent::Reset()
{
    OV_THROW_LAST_ERROR_IF(!::ResetEvent(m_Handle.Get()),
                           WithErrorText("Failed to Reset event: ", ::GetLastError()));
}

} // namespace OV::System::Win32
