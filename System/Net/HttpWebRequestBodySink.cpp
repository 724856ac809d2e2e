#include "System/Net/HttpWebRequestBodySink.h"

#include "System/String/AnsiWide.h"

#include <cerrno>
#include <utility>

namespace OV::System::Net
{

using OV::System::Win32::CCriticalSectionLock;

namespace
{
constexpr std::size_t kFileBufferSize = 1 << 20;
} // namespace

CHttpWebRequestBodySink::CHttpWebRequestBodySink(std::wstring outputPath, Win32::CCriticalSection& fieldsLock)
    : m_OutputPath(std::move(outputPath)), m_FieldsLock(fieldsLock)
{
}

CHttpWebRequestBodySink::Failure CHttpWebRequestBodySink::Open(HttpWebRequestResult& result,
                                                               std::int64_t contentLength)
{
    if (!m_OutputPath.empty())
    {
        m_File.Reset(::_wfopen(m_OutputPath.c_str(), L"ab"));
        if (!m_File)
            return HttpWebRequestFailure{HttpWebRequestCodes::DetailOutputOpenFailed,
                                         static_cast<std::uint32_t>(errno),
                                         "the output file could not be opened: " + WideToAnsi(m_OutputPath)};
        std::setvbuf(m_File.Get(), nullptr, _IOFBF, kFileBufferSize);
        return std::nullopt;
    }
    CCriticalSectionLock lock(m_FieldsLock);
    m_Stream = result.body;
    if (contentLength >= 0)
        m_Stream->SetCapacity(contentLength);
    return std::nullopt;
}

CHttpWebRequestBodySink::Failure CHttpWebRequestBodySink::Write(const char* bytes, std::uint32_t count)
{
    if (m_File)
    {
        if (std::fwrite(bytes, 1, count, m_File.Get()) != count)
            return WriteFailure(errno);
        return std::nullopt;
    }
    CCriticalSectionLock lock(m_FieldsLock);
    m_Stream->Write(bytes, static_cast<std::int32_t>(count));
    return std::nullopt;
}

CHttpWebRequestBodySink::Failure CHttpWebRequestBodySink::Finish()
{
    if (m_File && std::fflush(m_File.Get()) != 0)
        return WriteFailure(errno);
    return std::nullopt;
}

HttpWebRequestFailure CHttpWebRequestBodySink::WriteFailure(int error)
{
    return HttpWebRequestFailure{error == ENOSPC ? HttpWebRequestCodes::DetailDiskFull
                                                 : HttpWebRequestCodes::DetailOutputWriteFailed,
                                 static_cast<std::uint32_t>(error), "writing the output file failed"};
}

} // namespace OV::System::Net
