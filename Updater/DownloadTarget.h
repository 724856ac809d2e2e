#pragma once

#include <string>

namespace OV::Updater
{

// Where a product's installer is downloaded: %APPDATA%\Orvane\Updater\<product>\ (ends with "\").
// Creates the folder levels; fails with CExitCodeException 0x400 when the application-data folder is not
// available.
std::wstring DownloadFolder(const std::wstring& product);

// Deletes every plain file an earlier run left in the product's download folder, except the engine files
// of one unfinished download that may still be resumed (FindResumableDownload).
void CleanDownloadFolder(const std::wstring& product);

// Deletes the partial download that CleanDownloadFolder kept, once the update service offers nothing that
// could resume it. Never fails: what cannot go now goes in a later run.
void DiscardPartialDownloads(const std::wstring& product) noexcept;

// The 8-bit file name cut from an installer address: the last segment of the percent-decoded address
// before its query. A backslash separates segments like "/", so a name can never climb out of the folder.
std::string FileNameFromAddress(const std::string& address);

struct DownloadTarget
{
    std::wstring path;
    std::string fileName;
};

// The target path for an address, with any old file at that path and every file but the target's own
// partial download deleted. Fails with 0x400 or 0x401.
DownloadTarget PrepareDownloadTarget(const std::wstring& product, const std::string& address);

} // namespace OV::Updater
