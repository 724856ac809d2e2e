#pragma once

#include "System/Platform.h"
#include "System/SystemInfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace OvTest
{

// A fresh folder under the prefix's temporary folder, removed with everything in it at the end.
class CTemporaryFolder
{
public:
    CTemporaryFolder()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        m_Path = std::wstring(temp, length) + L"ov-unit-" + OV::System::NewGuidText();
        std::filesystem::create_directories(m_Path);
    }
    ~CTemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
    }
    CTemporaryFolder(const CTemporaryFolder&) = delete;
    CTemporaryFolder& operator=(const CTemporaryFolder&) = delete;

    const std::wstring& Path() const { return m_Path; }
    std::wstring File(const std::wstring& name) const { return m_Path + L"\\" + name; }

private:
    std::wstring m_Path;
};

inline std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write the test file";
}

// The same as octets, for tests that pick words out of binary files.
using Octets = std::vector<std::uint8_t>;

inline Octets ReadFileOctets(const std::wstring& path)
{
    const std::string bytes = ReadFileBytes(path);
    return Octets(bytes.begin(), bytes.end());
}

inline void WriteFileOctets(const std::wstring& path, const Octets& octets)
{
    WriteFileBytes(path, std::string(octets.begin(), octets.end()));
}

// The little-endian 32-bit word at an offset, and its replacement.
inline std::uint32_t Word(const Octets& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (std::uint32_t(bytes[at + 3]) << 24);
}

inline void PutWord(Octets& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Bytes 0, 1, ..., 250, 0, 1, ...: a prime period, so a shifted copy never matches by accident.
inline std::vector<char> Pattern(size_t size, size_t start = 0)
{
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((start + i) % 251);
    return bytes;
}

} // namespace OvTest
