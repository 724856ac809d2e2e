#pragma once

#include "System/Platform.h"

#include <string>

namespace OV::Updater
{

// A partial download older than this is not resumed: the offer behind it has most likely moved on.
constexpr ULONGLONG kPartialDownloadMaxAge = 7ULL * 24 * 60 * 60 * 10000000; // in FILETIME units

// The unfinished download of an earlier run that the next run may resume: the file name T of its target,
// whose engine files (T.cache, T.downloadstate, T.origin, T.0, T.1) lie in the folder. Chosen among the
// folder's downloads whose state files are all whole and consistent, that have an origin record and a
// cache file that is a plain file with no other name, and whose cache file was written within
// kPartialDownloadMaxAge of now: the most recently written one. Empty when there is none.
std::wstring FindResumableDownload(const std::wstring& folder, const FILETIME& now);

// Whether a file name in the download folder is one of the engine files of the download of target name T
// (T itself, the finished installer, is not).
bool IsPartialDownloadFile(const std::wstring& name, const std::wstring& targetName);

// Deletes every plain file in the folder except the engine files of the download named keep (none when
// keep is empty). Results are ignored: a file that cannot go now goes in a later run.
void DeleteAllButPartialDownload(const std::wstring& folder, const std::wstring& keep);

} // namespace OV::Updater
