// Prints the records of an analytics queue file with the program's own queue code, under the queue mutex,
// without changing the queue (a damaged header is repaired exactly as every queue operation would).
//   QueueDump [--data-file <name>]     the queue of that data file name (default OVAnalyticsForGA4.dat)
// Output, one line each:
//   header version=<v> pending=<n> first=<offset> size=<bytes> repaired=<0|1>
//   record offset=<o> size=<s> extra=<hex> query=<text>
//   end offset=<o>  |  damaged offset=<o>  |  error <text>
#include "Analytics/AnalyticsBase.h"
#include "Analytics/AnalyticsGa4.h"
#include "Analytics/NamedMutexHold.h"
#include "Analytics/QueueFile.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <cstdio>
#include <string>

using namespace OV::Analytics;

namespace
{

std::string Hex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes)
    {
        text += kDigits[(static_cast<unsigned char>(c) >> 4) & 0x0F];
        text += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return text;
}

int Dump(const std::wstring& dataFileName)
{
    const std::wstring mutexName = CAnalyticsBase::GetQueueMutexName(dataFileName);
    OV::System::Win32::CHandleHolder mutex(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    if (!mutex)
    {
        std::printf("error cannot create the queue mutex (%lu)\n", ::GetLastError());
        return 1;
    }
    // A writer killed while holding the mutex leaves it abandoned; reading the file is still safe, since
    // every record is checked.
    CNamedMutexHold hold(mutex.Get(), nullptr, CNamedMutexHold::Abandoned::TakeOver);
    if (!hold.IsHeld())
    {
        std::printf("error queue mutex not obtained\n");
        return 1;
    }
    CQueueFile file(CAnalyticsBase::GetQueuePathFor(dataFileName));
    if (!file.IsOpen())
    {
        std::printf("error cannot open the queue file (%lu)\n", ::GetLastError());
        return 1;
    }
    const QueueHeader& header = file.Header();
    std::printf("header version=%u pending=%u first=%u size=%lld repaired=%d\n", header.version,
                header.pendingRecords, header.firstPendingOffset, static_cast<long long>(file.GetSize()),
                file.WasRepaired() ? 1 : 0);
    std::uint32_t offset = header.firstPendingOffset;
    for (;;)
    {
        QueueItem item;
        const CQueueFile::ReadStatus status = file.ReadItem(offset, item);
        if (status == CQueueFile::ReadStatus::End)
        {
            std::printf("end offset=%u\n", offset);
            return 0;
        }
        if (status == CQueueFile::ReadStatus::Damaged)
        {
            std::printf("damaged offset=%u\n", offset);
            return 0;
        }
        std::printf("record offset=%u size=%u extra=%s query=%s\n", offset, item.recordSize,
                    Hex(item.extra).c_str(), item.query.c_str());
        offset += item.recordSize;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring dataFileName = CAnalyticsGa4::kDataFileName;
    if (argc == 3 && std::wstring(argv[1]) == L"--data-file")
        dataFileName = argv[2];
    else if (argc != 1)
    {
        std::fprintf(stderr, "usage: QueueDump [--data-file <name>]\n");
        return 2;
    }
    const int result = Dump(dataFileName);
    std::fflush(stdout);
    return result;
}
