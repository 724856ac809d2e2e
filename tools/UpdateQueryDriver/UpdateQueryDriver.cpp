// Runs the update query once, as the run does, and prints what it returned, for the end-to-end tests.
//   UpdateQueryDriver query <scheme> <productName> <channel> <dp> <version>
//   UpdateQueryDriver host
#include "System/Platform.h"
#include "System/Stopwatch.h"
#include "System/String/AnsiWide.h"
#include "Updater/Service/ServiceHost.h"
#include "Updater/Service/UpdateQuery.h"
#include "Updater/Service/Version.h"

#include <cstdio>
#include <string>

namespace
{

int Usage()
{
    std::fprintf(stderr, "usage: UpdateQueryDriver query <scheme> <productName> <channel> <dp> <version>\n"
                         "       UpdateQueryDriver host\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    using namespace OV::Updater::Service;
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    if (command == L"host" && argc == 2)
    {
        std::printf("host=%s\n", ServiceHost().c_str());
        return 0;
    }
    if (command != L"query" || argc != 7)
        return Usage();

    std::string url, hash, version;
    std::int64_t size = -1;
    OV::System::CStopwatch stopwatch;
    stopwatch.Start();
    const std::uint32_t result = QueryClientUpdate(
        OV::WideToAnsi(argv[2]), OV::WideToAnsi(argv[3]), OV::WideToAnsi(argv[4]), OV::WideToAnsi(argv[5]),
        OV::WideToAnsi(argv[6]), kProductToken, kUpdaterVersion, nullptr, url, hash, size, version);
    std::printf("result=%u\nurl=%s\nhash=%s\nsize=%lld\nversion=%s\nelapsed-ms=%llu\n", result, url.c_str(),
                hash.c_str(), static_cast<long long>(size), version.c_str(),
                static_cast<unsigned long long>(stopwatch.GetElapsedMs()));
    std::fflush(stdout);
    return 0;
}
