#include "Updater/DownloadTarget.h"

#include "System/ExitCodeException.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "Updater/PartialDownload.h"
#include "Updater/RunContext.h"
#include "Updater/RunOutcome.h"
#include "Updater/Trust/ExecutablePath.h"

#include <shlobj.h>

#include <algorithm>

namespace OV::Updater
{

namespace
{

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "%XY" with two hex digits becomes that byte; anything else, a lone "%" included, stays as typed.
std::string PercentDecode(const std::string& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '%' && i + 2 < text.size())
        {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0)
            {
                decoded += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

} // namespace

std::wstring DownloadFolder(const std::wstring& product)
{
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData)))
        throw System::CExitCodeException(FailureGetEXESHGetFolderPath);
    const std::wstring base = appData;
    // Each level on its own; an existing folder is fine.
    ::CreateDirectoryW((base + L"\\Orvane").c_str(), nullptr);
    ::CreateDirectoryW((base + L"\\Orvane\\Updater").c_str(), nullptr);
    ::CreateDirectoryW((base + L"\\Orvane\\Updater\\" + product).c_str(), nullptr);
    return base + L"\\Orvane\\Updater\\" + product + L"\\";
}

void CleanDownloadFolder(const std::wstring& product)
{
    const std::wstring folder = DownloadFolder(product);
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    // One unfinished download is kept until the answer of the update service says whether it is resumed.
    const std::wstring kept = FindResumableDownload(folder, now);
    DeleteAllButPartialDownload(folder, kept);
    if (!kept.empty())
        LogRunLine(L"Kept the partial download of an earlier run: " + kept);
}

void DiscardPartialDownloads(const std::wstring& product) noexcept
{
    try
    {
        DeleteAllButPartialDownload(DownloadFolder(product), std::wstring());
    }
    catch (...)
    {
        // Left for the next run's clean-up.
    }
}

std::string FileNameFromAddress(const std::string& address)
{
    const std::string decoded = PercentDecode(address);
    const std::string beforeQuery = decoded.substr(0, decoded.find('?'));
    const size_t lastSeparator = beforeQuery.find_last_of("/\\");
    return lastSeparator == std::string::npos ? beforeQuery : beforeQuery.substr(lastSeparator + 1);
}

DownloadTarget PrepareDownloadTarget(const std::wstring& product, const std::string& address)
{
    DownloadTarget target;
    const std::wstring folder = DownloadFolder(product);
    target.fileName = FileNameFromAddress(address);
    target.path = folder + OV::AnsiToWide(target.fileName);
    // Only a plain ".exe" name is ever started: not "." or "..", not a device such as NUL, not a stream.
    if (!Trust::IsPlainExecutableName(OV::AnsiToWide(target.fileName)))
        throw System::CExitCodeException(FailureGetEXEDeleteFile);
    // A partial download of another file is of no use any more.
    DeleteAllButPartialDownload(folder, OV::AnsiToWide(target.fileName));
    if (!::DeleteFileW(target.path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        throw System::CExitCodeException(FailureGetEXEDeleteFile);
    return target;
}

} // namespace OV::Updater
