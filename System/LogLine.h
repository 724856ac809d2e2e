#pragma once

#include <string>

namespace OV::System
{

// Appends "<UTC date and time> [<process id>] <line>" to the log file at path (its folder is made when
// missing). Append-only access lands each line at the end of the file at that moment, so processes that
// log at once lose nothing. Never fails: logging must not stop the program's work.
void AppendLogLine(const std::wstring& path, const std::wstring& line);

} // namespace OV::System
