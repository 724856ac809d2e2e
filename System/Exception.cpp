#include "System/Exception.h"

#include "System/ErrorText.h"
#include "System/Platform.h"
#include "System/String/AnsiWideNoThrow.h"

namespace OV::System
{

namespace
{

// Widening must never throw here: we are already building an exception.
std::wstring WidenForException(std::string_view text)
{
    return OV::AnsiToWideNoThrow(text);
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::wstring StripExtension(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

} // namespace

CException::CException(const char* sourceFile, int line, const char* function, std::string_view message)
    : CException(RaisePlace{::GetLastError(), sourceFile, line, function}, message)
{
}

CException::CException(const char* sourceFile, int line, const char* function, std::wstring_view message)
    : CException(RaisePlace{::GetLastError(), sourceFile, line, function}, message)
{
}

CException::CException(const char* sourceFile, int line, const char* function, const CException& inner,
                       std::string_view message)
    : CException(RaisePlace{::GetLastError(), sourceFile, line, function}, inner, message)
{
}

CException::CException(const RaisePlace& place, std::string_view message)
    : m_LastError(place.lastError), m_Message(WidenForException(message)), m_SourceFile(place.sourceFile),
      m_Line(place.line), m_Function(place.function)
{
}

CException::CException(const RaisePlace& place, std::wstring_view message)
    : m_LastError(place.lastError), m_Message(message), m_SourceFile(place.sourceFile), m_Line(place.line),
      m_Function(place.function)
{
}

CException::CException(const RaisePlace& place, const CException& inner, std::string_view message)
    : m_LastError(place.lastError), m_Message(WidenForException(message)), m_SourceFile(place.sourceFile),
      m_Line(place.line), m_Function(place.function), m_Inner(new CException(inner))
{
}

void RaiseException(const RaisePlace& place, std::string_view message)
{
    throw CException(place, message);
}

void RaiseException(const RaisePlace& place, std::wstring_view message)
{
    throw CException(place, message);
}

void RaiseException(const RaisePlace& place, const CException& inner, std::string_view message)
{
    throw CException(place, inner, message);
}

CException::CException(const CException& other)
    : CReferenceCounted(), m_LastError(other.m_LastError), m_Message(other.m_Message),
      m_SourceFile(other.m_SourceFile), m_Line(other.m_Line), m_Function(other.m_Function),
      m_Inner(other.m_Inner ? new CException(*other.m_Inner) : nullptr)
{
}

CException::~CException() = default;

std::wstring CException::GetDescription() const
{
    return DescriptionAt(0);
}

std::wstring CException::DescriptionAt(int depth) const
{
    const std::wstring indent(static_cast<size_t>(depth), L'\t');
    const std::wstring message = depth == 0 ? m_Message : ReplaceAll(m_Message, L"\r\n", L"\r\n" + indent);

    std::wstring text = L"Exception:  " + message + L"\r\n" + indent + L"In Function: " +
                        WidenForException(m_Function) + L"\r\n" + indent + L"File " +
                        WidenForException(m_SourceFile) + L" Line " + std::to_wstring(m_Line) + L"\r\n";
    if (m_LastError != 0)
        text += indent + L"LastError=" + std::to_wstring(m_LastError) + L"; " +
                WidenForException(GetErrorText(m_LastError));
    if (m_Inner)
        text += indent + L"Inner " + m_Inner->DescriptionAt(depth + 1);
    return text;
}

std::wstring CException::GetLocationTrail() const
{
    std::wstring trail;
    for (const CException* current = this; current != nullptr; current = current->m_Inner.Get())
    {
        if (!trail.empty())
            trail += L"-";
        const std::wstring file = WidenForException(current->m_SourceFile);
        const size_t lastSeparator = file.find_last_of(L"\\/");
        if (lastSeparator != std::wstring::npos)
        {
            const std::wstring folder = file.substr(0, lastSeparator);
            const size_t folderSeparator = folder.find_last_of(L"\\/");
            const std::wstring folderName = StripExtension(
                folderSeparator == std::wstring::npos ? folder : folder.substr(folderSeparator + 1));
            if (!folderName.empty())
                trail += folderName + L".";
        }
        const std::wstring baseName =
            StripExtension(lastSeparator == std::wstring::npos ? file : file.substr(lastSeparator + 1));
        trail += baseName + L"." + std::to_wstring(current->m_Line);
    }
    return trail;
}

} // namespace OV::System
