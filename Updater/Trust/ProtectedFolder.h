// A fresh folder that only SYSTEM and Administrators may change, for the programs an elevated process
// starts: nothing a limited user can write is started from there or loaded from beside it.
#pragma once

#include "Updater/Trust/HeldFile.h"

#include <string>

namespace OV::Updater::Trust
{

class CProtectedFolder
{
public:
    CProtectedFolder() = default;

    // Makes %ProgramData%\Orvane\Protected\{GUID} for one use, after removing what earlier uses left
    // behind and is no longer in use. False when this process cannot (it is not elevated, or a folder on
    // the way is a link or cannot be secured).
    bool Create();

    const std::wstring& Path() const { return m_Path; }

    // Copies the held file into the folder as name and holds the copy (read sharing only). False when
    // the copy cannot be made or held.
    bool Stage(const CHeldFile& source, const std::wstring& name, CHeldFile& copy) const;

    // The folder all protected folders live in, made (or taken over) and locked down; empty when that
    // fails. Its own files (a log) are as safe from the user as the folders in it.
    static std::wstring SecureBaseFolder();

    // Removes the files and the folder of an earlier use; a program still running from it keeps it.
    static void Remove(const std::wstring& folder);

private:
    std::wstring m_Path;
};

} // namespace OV::Updater::Trust
