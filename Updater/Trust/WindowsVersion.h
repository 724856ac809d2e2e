#pragma once

namespace OV::Updater::Trust
{

// Whether the running Windows is at least major.minor with at least the given service pack, compared
// as VerifyVersionInfoW compares them (major first, then minor, then service pack).
bool IsWindowsVersionOrGreater(unsigned short major, unsigned short minor, unsigned short servicePackMajor);

} // namespace OV::Updater::Trust
