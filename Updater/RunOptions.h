#pragma once

#include <string>

namespace OV::Updater
{

// The run's options, filled once from the command line.
struct RunOptions
{
    std::wstring product = L"TesselAGGamesApp";
    std::wstring dp = L"fablewick";
    std::string channel = "live";
    bool dev = false;
    std::wstring locale;
    std::wstring from;
    std::wstring patchURL;
    std::wstring appArgs;
    bool prompt = false;
    bool notify = false;
    bool showProgress = true;
    std::wstring parkPath;
    bool parking = true;
    bool emitDownloadProgress = false;
    std::wstring installerArgs;
};

} // namespace OV::Updater
