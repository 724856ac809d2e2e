#include "Updater/Trust/HeldFile.h"

#include <vector>

namespace OV::Updater::Trust
{

CHeldFile::CHeldFile(const std::wstring& path)
    : m_File(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)),
      m_Path(path)
{
}

std::int64_t CHeldFile::Size() const
{
    LARGE_INTEGER size{};
    if (!m_File || !::GetFileSizeEx(m_File.Get(), &size))
        return -1;
    return size.QuadPart;
}

bool CHeldFile::ReadAll(const std::function<bool(const BYTE*, DWORD)>& sink) const
{
    LARGE_INTEGER start{};
    if (!m_File || !::SetFilePointerEx(m_File.Get(), start, nullptr, FILE_BEGIN))
        return false;
    std::vector<BYTE> buffer(256 * 1024);
    for (;;)
    {
        DWORD read = 0;
        if (!::ReadFile(m_File.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (!sink(buffer.data(), read))
            return false;
    }
}

bool CHeldFile::CopyTo(HANDLE output) const
{
    const bool copied = ReadAll(
        [output](const BYTE* bytes, DWORD count)
        {
            DWORD written = 0;
            return ::WriteFile(output, bytes, count, &written, nullptr) && written == count;
        });
    return copied && ::FlushFileBuffers(output);
}

} // namespace OV::Updater::Trust
