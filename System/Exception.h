#pragma once

#include "System/Object.h"
#include "System/RefPtr.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace OV::System
{

// Where an exception is raised: the thread's last error, taken before anything else can change it, then
// the source path, line and full function name.
struct RaisePlace
{
    std::uint32_t lastError;
    const char* sourceFile;
    int line;
    std::string_view function;
};

// The one exception class of the program. It records where it was raised (source path, line, full
// function name), the thread's last error at that moment and, optionally, the exception that caused it.
class CException : public CReferenceCounted
{
public:
    CException(const char* sourceFile, int line, const char* function, std::string_view message);
    CException(const char* sourceFile, int line, const char* function, std::wstring_view message);
    CException(const char* sourceFile, int line, const char* function, const CException& inner,
               std::string_view message);
    // Raised through the error boundary (System/ErrorBoundary.h), which captured the place.
    CException(const RaisePlace& place, std::string_view message);
    CException(const RaisePlace& place, std::wstring_view message);
    CException(const RaisePlace& place, const CException& inner, std::string_view message);
    CException(const CException& other);
    CException& operator=(const CException&) = delete;
    ~CException() override;

    // Multi-line text of this exception and its inner chain.
    virtual std::wstring GetDescription() const;
    // One line naming the raise places along the chain, e.g. "Net.HttpWebRequest.245-Stream.FileStream.88".
    virtual std::wstring GetLocationTrail() const;

    const std::wstring& GetMessageText() const { return m_Message; }
    const std::string& GetSourceFile() const { return m_SourceFile; }
    int GetLine() const { return m_Line; }
    const std::string& GetFunction() const { return m_Function; }
    std::uint32_t GetLastErrorCode() const { return m_LastError; }
    const CException* GetInner() const { return m_Inner.Get(); }

private:
    std::wstring DescriptionAt(int depth) const;

    std::uint32_t m_LastError;
    std::wstring m_Message;
    std::string m_SourceFile;
    int m_Line;
    std::string m_Function;
    CRefPtr<CException> m_Inner;
};

// Throws CException(place, ...). Out of line so that each raise site in the program is one call, not the
// whole allocate-construct-throw sequence (the shipped updater is downloaded by every player).
[[noreturn]] void RaiseException(const RaisePlace& place, std::string_view message);
[[noreturn]] void RaiseException(const RaisePlace& place, std::wstring_view message);
[[noreturn]] void RaiseException(const RaisePlace& place, const CException& inner, std::string_view message);

} // namespace OV::System
