#include "Updater/Service/ServiceHost.h"

#include "System/Win32/RegistryKey.h"

namespace OV::Updater::Service
{

std::string LiveServiceHost()
{
    return OV_LIVE_SERVICE_HOST;
}

std::string TestServiceHost()
{
    return OV_TEST_SERVICE_HOST;
}

std::string ServiceHost()
{
    return System::Win32::IsDebuggingFlagSet(L"UseTestEnvironment") ? TestServiceHost() : LiveServiceHost();
}

} // namespace OV::Updater::Service
