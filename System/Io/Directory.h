#pragma once

#include "System/Platform.h"

#include <string>
#include <vector>

namespace OV::System::IO
{

class CDirectory
{
public:
    // Creates the folder and its missing parents; an existing folder is not an error.
    static void Create(const std::wstring& path, SECURITY_ATTRIBUTES* securityAttributes = nullptr);
    static void CreateParentDirectory(const std::wstring& filePath);
    // Names (without folder) of the plain files in the folder that match the pattern.
    static std::vector<std::wstring> GetFiles(const std::wstring& folder, const std::wstring& pattern = L"*");
    static bool Exists(const std::wstring& path);
};

} // namespace OV::System::IO
