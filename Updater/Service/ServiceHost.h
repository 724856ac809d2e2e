#pragma once

#include <string>

namespace OV::Updater::Service
{

// The update-service host ("name" or "name:port"): the test host while the debugging value
// "UseTestEnvironment" (HKLM\SOFTWARE\Orvane\Debugging) is a non-zero DWORD, the live host otherwise.
std::string ServiceHost();

// The two hosts built into the program.
std::string LiveServiceHost();
std::string TestServiceHost();

} // namespace OV::Updater::Service
