#pragma once

#include "System/Io/Stream/MemoryStream.h"
#include "System/Net/HttpWebRequestResult.h"
#include "System/RefPtr.h"
#include "System/Win32/Synchronization.h"
#include "System/Win32/UniqueHandle.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace OV::System::Net
{

// Where a transfer's body goes: appended to the output file when the request has one, otherwise into
// the result's memory stream, which the caller may read meanwhile and is therefore written under the
// request's fields lock.
class CHttpWebRequestBodySink
{
public:
    using Failure = std::optional<HttpWebRequestFailure>;

    CHttpWebRequestBodySink(std::wstring outputPath, Win32::CCriticalSection& fieldsLock);

    // Opens the output file (or takes the memory stream, with room for a known length).
    Failure Open(HttpWebRequestResult& result, std::int64_t contentLength);
    Failure Write(const char* bytes, std::uint32_t count);
    // Flushes the output file.
    Failure Finish();

private:
    static HttpWebRequestFailure WriteFailure(int error);

    std::wstring m_OutputPath;
    Win32::CCriticalSection& m_FieldsLock;
    Win32::CUniqueAny<FILE*, &std::fclose> m_File;
    CRefPtr<OV::System::IO::Stream::CMemoryStream> m_Stream;
};

} // namespace OV::System::Net
