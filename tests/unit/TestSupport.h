#pragma once
// The unit tests' one kit: a scratch folder, file bytes, the exception a call throws, a thread whose body is
// a function and a second real process.

#include "System/Exception.h"
#include "System/Platform.h"
#include "System/SystemInfo.h"
#include "System/Win32/HandleHolder.h"
#include "System/Win32/Thread.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace OV::Tests
{

// A fresh folder under the prefix's temporary folder, removed with everything in it at the end.
class CTemporaryFolder
{
public:
    CTemporaryFolder()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        m_Path = std::wstring(temp, length) + L"ov-unit-" + System::NewGuidText();
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

// The little-endian 32-bit word at an offset of a binary file's bytes, and its replacement.
template <typename Bytes>
std::uint32_t Word(const Bytes& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

template <typename Bytes>
void PutWord(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<typename Bytes::value_type>(value >> (8 * i));
}

// Bytes 0, 1, ..., 250, 0, 1, ...: a prime period, so a shifted copy never matches by accident.
inline std::vector<char> Pattern(size_t size, size_t start = 0)
{
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((start + i) % 251);
    return bytes;
}

// Runs action and returns the CException it threw, or nothing when it threw none.
template <typename Action>
std::optional<System::CException> CatchException(Action&& action)
{
    try
    {
        action();
    }
    catch (const System::CException& caught)
    {
        return std::optional<System::CException>(std::in_place, caught);
    }
    return std::nullopt;
}

// A CThread whose body is a function. The body gets the thread to poll its stop signal.
class CFunctionThread : public System::Win32::CThread
{
public:
    using Body = std::function<std::uint32_t(CFunctionThread&)>;

    explicit CFunctionThread(Body body) : m_Body(std::move(body)) {}
    // The body is a member of this class, so the thread must end before it goes; a body that ignores the
    // stop signal is cut off after a bounded wait.
    ~CFunctionThread() override { Stop(30000); }

protected:
    std::uint32_t Execute() override { return m_Body(*this); }

private:
    Body m_Body;
};

// tools/ProcessHelper/ProcessHelper.exe of the same build, started as a second real process (its commands
// are listed at the top of its source). Its output goes to NUL; tests learn readiness through named events.
class CHelperProcess
{
public:
    // Throws std::runtime_error when the program cannot be started.
    explicit CHelperProcess(const std::wstring& arguments);
    // Kills the helper if it is still running, so that a failed test leaves no process behind.
    ~CHelperProcess();

    // True when the helper ended within timeoutMs.
    bool WaitForExit(DWORD timeoutMs);
    // STILL_ACTIVE while it runs.
    DWORD GetExitCode() const;

private:
    System::Win32::CHandleHolder m_Process;
};

// A kernel-object name unique to this test process and the given purpose.
std::wstring UniqueObjectName(const std::wstring& purpose);

} // namespace OV::Tests
