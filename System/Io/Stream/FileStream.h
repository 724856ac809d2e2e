#pragma once

#include "System/Io/Stream/Stream.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <cstdint>
#include <string>

namespace OV::System::IO::Stream
{

// How a file stream opens its file (the CreateFileW creation disposition).
enum class FileStreamMode : int
{
    Append = 0,           // OPEN_ALWAYS, then positioned at the end
    CreateAlways = 1,     // CREATE_ALWAYS
    CreateNew = 2,        // CREATE_NEW
    OpenExisting = 3,     // OPEN_EXISTING
    OpenAlways = 4,       // OPEN_ALWAYS
    TruncateExisting = 5, // TRUNCATE_EXISTING
};

// Access bits of a file stream.
enum FileStreamAccess : std::uint32_t
{
    FileAccessRead = 1,
    FileAccessWrite = 2,
    FileAccessReadWrite = 3,
};

// A stream over one open file. Reading and GetLength report failure through their results; every other
// failure throws CException.
class CFileStream : public CStream
{
public:
    // A relative path is taken relative to the program's own folder. share and flags go to CreateFileW
    // unchanged.
    CFileStream(const std::wstring& path, FileStreamMode mode, std::uint32_t access,
                DWORD share = FILE_SHARE_READ, DWORD flags = FILE_ATTRIBUTE_NORMAL);
    ~CFileStream() override;

    bool CanRead() override { return m_CanRead; }
    bool CanSeek() override { return true; }
    bool CanWrite() override { return m_CanWrite; }
    std::int64_t GetLength() override;
    void SetPosition(std::int64_t position) override;
    std::int64_t GetPosition() override;
    void Flush() override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    void SetLength(std::int64_t length) override;
    void Write(const void* buffer, std::int32_t count) override;

    const std::wstring& GetPath() const { return m_Path; }
    HANDLE GetHandle() const { return m_File.Get(); }

private:
    void Init(const std::wstring& path, FileStreamMode mode, std::uint32_t access, DWORD share, DWORD flags);

    std::wstring m_Path;
    bool m_CanRead = false;
    bool m_CanWrite = false;
    Win32::CHandleHolder m_File{INVALID_HANDLE_VALUE};
};

} // namespace OV::System::IO::Stream
