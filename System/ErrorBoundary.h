// Raising CException in one line. Each macro takes the thread's last error before anything else (the
// message is built afterwards and may call functions that change it), then the place: the file's
// `kSource`, found at the call site, the line and the qualified name of the enclosing function.
//
//   OV_THROW_LAST_ERROR_IF(!::SetEvent(handle), "Failed to Set event");
//   OV_THROW_WIN32_IF(::RegSetValueExW(...), "RegSetValueEx failure");     status recorded as last error
//   OV_THROW_IF_FAILED(hr, "CoCreateInstance failed");                   HRESULT recorded as last error
//   OV_THROW_IF(count < 0, "bad count");  OV_THROW("text");  OV_THROW(inner, "outer text");
//
// Where the program's error texts fix a line (and, rarely, a function other than the enclosing one),
// the file names those places once in a table of FixedPlace constants and raises with OV_THROW_AT or
// OV_THROW_WIN32_IF_AT; such a number does not move when the file is edited.
#pragma once

#include "System/Exception.h"
#include "System/Platform.h"

#include <cstdint>
#include <string_view>

namespace OV::System
{

// "OV::Io::CFile::Read" from the compiler's full signature "std::string OV::Io::CFile::Read(int) const":
// the name before the parameter list, without the return type and specifiers in front of it.
constexpr std::string_view QualifiedFunctionName(std::string_view signature)
{
    size_t start = 0;
    int depth = 0; // inside template brackets, blanks and parentheses belong to a type
    for (size_t at = 0; at < signature.size(); ++at)
    {
        const char c = signature[at];
        if (c == '<')
            ++depth;
        else if (c == '>')
            --depth;
        else if (depth == 0 && c == ' ')
            start = at + 1;
        else if (depth == 0 && c == '(')
            return signature.substr(start, at - start);
    }
    return signature.substr(start);
}

// A raise place that the program's error texts fix. A null function means the enclosing one.
struct FixedPlace
{
    constexpr explicit FixedPlace(int fixedLine, const char* fixedFunction = nullptr)
        : line(fixedLine), function(fixedFunction)
    {
    }

    int line;
    const char* function;
};

constexpr std::string_view FunctionAt(const FixedPlace& place, std::string_view enclosing)
{
    return place.function != nullptr ? std::string_view(place.function) : enclosing;
}

} // namespace OV::System

#define OV_FUNCTION ::OV::System::QualifiedFunctionName(__PRETTY_FUNCTION__)

#define OV_DETAIL_PLACE(error, line, function)                                                               \
    (::OV::System::RaisePlace{static_cast<std::uint32_t>(error), kSource, line, function})

// The place of the current line with the thread's last error, for a raise that needs steps of its own.
#define OV_HERE OV_DETAIL_PLACE(::GetLastError(), __LINE__, OV_FUNCTION)

#define OV_DETAIL_RAISE(place, ...)                                                                          \
    do                                                                                                       \
    {                                                                                                        \
        const ::OV::System::RaisePlace ovPlace = place;                                                      \
        ::OV::System::RaiseException(ovPlace, __VA_ARGS__);                                                  \
    } while (false)

// Raises when failed(status) holds, the status recorded as the last error.
#define OV_DETAIL_RAISE_IF(failed, status, line, function, ...)                                              \
    do                                                                                                       \
    {                                                                                                        \
        const auto ovStatus = (status);                                                                      \
        if (failed(ovStatus))                                                                                \
            OV_DETAIL_RAISE(OV_DETAIL_PLACE(ovStatus, line, function), __VA_ARGS__);                         \
    } while (false)

#define OV_DETAIL_WIN32_FAILED(status) ((status) != ERROR_SUCCESS)

#define OV_THROW(...) OV_DETAIL_RAISE(OV_HERE, __VA_ARGS__)

#define OV_THROW_IF(condition, ...)                                                                          \
    do                                                                                                       \
    {                                                                                                        \
        if (condition)                                                                                       \
            OV_THROW(__VA_ARGS__);                                                                           \
    } while (false)

// The condition is a Win32 call's failure, which the call described in the last error.
#define OV_THROW_LAST_ERROR_IF(condition, ...) OV_THROW_IF(condition, __VA_ARGS__)

// A Win32 status (a registry function's result, for example): anything but ERROR_SUCCESS raises, with
// the status as the recorded last error.
#define OV_THROW_WIN32_IF(status, ...)                                                                       \
    OV_DETAIL_RAISE_IF(OV_DETAIL_WIN32_FAILED, status, __LINE__, OV_FUNCTION, __VA_ARGS__)

// A failed HRESULT raises, with the HRESULT as the recorded last error.
#define OV_THROW_IF_FAILED(result, ...)                                                                      \
    OV_DETAIL_RAISE_IF(FAILED, static_cast<HRESULT>(result), __LINE__, OV_FUNCTION, __VA_ARGS__)

// The same at a FixedPlace of the file's table.
#define OV_THROW_AT(fixed, ...)                                                                              \
    OV_DETAIL_RAISE(                                                                                         \
        OV_DETAIL_PLACE(::GetLastError(), (fixed).line, ::OV::System::FunctionAt(fixed, OV_FUNCTION)),       \
        __VA_ARGS__)

#define OV_THROW_WIN32_IF_AT(fixed, status, ...)                                                             \
    OV_DETAIL_RAISE_IF(OV_DETAIL_WIN32_FAILED, status, (fixed).line,                                         \
                       ::OV::System::FunctionAt(fixed, OV_FUNCTION), __VA_ARGS__)
