#pragma once

#include "System/Win32/Synchronization.h"

#include <cstdint>
#include <map>
#include <string>

namespace OV::System
{

// The process log: one text file per program and run, which receives a header line (80 dashes and the
// UTC time) each time it is opened.
class CLog : public CNonCopyable
{
public:
    // Throws the CException of CDirectory::Create when the logs folder cannot be made.
    static void SetOutputFile(const std::wstring& path, bool deleteExisting);
    static void RemoveThread(std::uint32_t threadId);
    static std::wstring GetOutputFile();

    // "Fri, 4 Dec 2026 21:47:42 UT" for the given UTC time.
    static std::wstring FormatHeaderTime(const SYSTEMTIME& utc);

private:
    struct ThreadRecord
    {
        std::wstring text;
    };

    CLog() = default;
    static CLog& Instance();
    void _SetOutputFile(const std::wstring& path, bool deleteExisting);

    std::map<std::uint32_t, ThreadRecord> m_Threads;
    Win32::CCriticalSection m_Lock;
    std::wstring m_OutputFile;
};

} // namespace OV::System
