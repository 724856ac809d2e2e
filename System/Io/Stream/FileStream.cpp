#include "System/Io/Stream/FileStream.h"

#include "System/ErrorBoundary.h"
#include "System/Io/FilePath.h"

#include <cwchar>

namespace OV::System::IO::Stream
{

namespace
{

constexpr char kSource[] = "Ov\\System\\Io\\Stream\\FileStream.cpp";

struct ModeDisposition
{
    FileStreamMode mode;
    DWORD disposition;
};

constexpr ModeDisposition kDispositions[] = {
    {FileStreamMode::Append, OPEN_ALWAYS},     {FileStreamMode::CreateAlways, CREATE_ALWAYS},
    {FileStreamMode::CreateNew, CREATE_NEW},   {FileStreamMode::OpenExisting, OPEN_EXISTING},
    {FileStreamMode::OpenAlways, OPEN_ALWAYS}, {FileStreamMode::TruncateExisting, TRUNCATE_EXISTING},
};

// The system's text for an error code, or "(null)" when it has none.
std::wstring SystemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const Win32::CLocalMemory owner(text);
    if (length == 0 || text == nullptr)
        return L"(null)";
    return std::wstring(text, length);
}

std::wstring OpenFailureMessage(const std::wstring& path, DWORD code)
{
    wchar_t hex[16] = {};
    std::swprintf(hex, sizeof(hex) / sizeof(hex[0]), L"0x%08x", static_cast<unsigned int>(code));
    return L"Failed to open file : '" + path + L"'\n\tError (" + hex + L") : " + SystemMessage(code);
}

} // namespace

CFileStream::CFileStream(const std::wstring& path, FileStreamMode mode, std::uint32_t access, DWORD share,
                         DWORD flags)
{
    Init(path, mode, access, share, flags);
}

CFileStream::~CFileStream()
{
    if (m_File.IsValid() && m_CanWrite)
        ::FlushFileBuffers(m_File.Get());
}

void CFileStream::Init(const std::wstring& path, FileStreamMode mode, std::uint32_t access, DWORD share,
                       DWORD flags)
{
    const ModeDisposition* found = nullptr;
    for (const ModeDisposition& entry : kDispositions)
    {
        if (entry.mode == mode)
            found = &entry;
    }
    OV_THROW_IF(found == nullptr, "FileStream mode");
    OV_THROW_IF(access < FileAccessRead || access > FileAccessReadWrite, "FileStream access");

    m_Path = CFilePath::MakeAbsolute(path);
    m_CanRead = (access & FileAccessRead) != 0;
    m_CanWrite = (access & FileAccessWrite) != 0;
    const DWORD desiredAccess = (m_CanRead ? GENERIC_READ : 0) | (m_CanWrite ? GENERIC_WRITE : 0);

    m_File.Reset(
        ::CreateFileW(m_Path.c_str(), desiredAccess, share, nullptr, found->disposition, flags, nullptr));
    // The message names the path as the caller gave it, which is what the caller can recognise.
    OV_THROW_LAST_ERROR_IF(!m_File.IsValid(), OpenFailureMessage(path, ::GetLastError()));
    if (mode == FileStreamMode::Append)
        Seek(0, SeekEnd);
}

std::int64_t CFileStream::GetLength()
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_File.Get(), &size))
        return -1;
    return size.QuadPart;
}

void CFileStream::SetPosition(std::int64_t position)
{
    LARGE_INTEGER distance = {};
    distance.QuadPart = position;
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), distance, nullptr, FILE_BEGIN),
                           "failed to seek in file");
}

std::int64_t CFileStream::GetPosition()
{
    LARGE_INTEGER position = {};
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT),
                           "get file position failed");
    return position.QuadPart;
}

void CFileStream::Flush()
{
    ::FlushFileBuffers(m_File.Get());
}

std::int32_t CFileStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    DWORD read = 0;
    if (!::ReadFile(m_File.Get(), buffer, static_cast<DWORD>(count), &read, nullptr))
        return 0;
    return static_cast<std::int32_t>(read);
}

std::int64_t CFileStream::Seek(std::int64_t offset, int origin)
{
    OV_THROW_IF(origin < SeekBegin || origin > SeekEnd, "bad seek origin");
    // SeekBegin, SeekCurrent and SeekEnd have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
    LARGE_INTEGER distance = {};
    distance.QuadPart = offset;
    LARGE_INTEGER position = {};
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), distance, &position, static_cast<DWORD>(origin)),
                           "failed to seek in file");
    return position.QuadPart;
}

void CFileStream::SetLength(std::int64_t length)
{
    LARGE_INTEGER current = {};
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), LARGE_INTEGER{}, &current, FILE_CURRENT),
                           "failed to get file pointer");
    LARGE_INTEGER end = {};
    end.QuadPart = length;
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), end, nullptr, FILE_BEGIN),
                           "failed to seek from beginning of file");
    OV_THROW_LAST_ERROR_IF(!::SetEndOfFile(m_File.Get()), "SetEndOfFile() failure");
    OV_THROW_LAST_ERROR_IF(!::SetFilePointerEx(m_File.Get(), current, nullptr, FILE_BEGIN),
                           "failed to seek in file");
}

void CFileStream::Write(const void* buffer, std::int32_t count)
{
    if (count < 0)
    {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        OV_THROW("WriteFile() failure");
    }
    DWORD written = 0;
    if (!::WriteFile(m_File.Get(), buffer, static_cast<DWORD>(count), &written, nullptr))
    {
        OV_THROW_IF(::GetLastError() == ERROR_DISK_FULL, "ERROR_DISK_FULL");
        OV_THROW("WriteFile() failure");
    }
    OV_THROW_IF(written != static_cast<DWORD>(count), "WriteFile() wrote incorrect number of bytes");
}

} // namespace OV::System::IO::Stream
