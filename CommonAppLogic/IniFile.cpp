#include "CommonAppLogic/IniFile.h"

#include "CommonAppLogic/ProfileReaders.h"
#include "System/ErrorBoundary.h"
#include "System/Platform.h"
#include "System/String/AnsiWide.h"
#include "System/SystemInfo.h"
#include "System/Win32/HandleHolder.h"

#include <vector>

namespace OV::CommonAppLogic
{

namespace
{
constexpr char kSource[] = "Ov\\CommonAppLogic\\IniFile.cpp";

constexpr unsigned int kSectionNamesChars = 1299;
constexpr unsigned int kKeyNamesChars = 1298;
constexpr unsigned int kValueChars = 519;

std::vector<std::wstring> ReadSectionNames(const std::wstring& path)
{
    // One spare character beyond what the system may fill keeps the list terminated.
    std::wstring buffer(kSectionNamesChars + 1, L'\0');
    {
        OV::System::Win32::CCriticalSectionLock lock(GetProfileLock());
        ::GetPrivateProfileSectionNamesW(buffer.data(), kSectionNamesChars, path.c_str());
    }
    std::vector<std::wstring> names;
    for (const wchar_t* name = buffer.c_str(); *name != L'\0'; name += names.back().size() + 1)
        names.emplace_back(name);
    return names;
}

} // namespace

void CIniFile::Load(const std::wstring& path)
{
    m_Path = path;
    m_Content.clear();
    if (OV::System::FileExists(m_Path))
        LoadFile();
}

void CIniFile::LoadFile()
{
    m_Content.clear();
    OV_THROW_IF(!OV::System::FileExists(m_Path), L"File does not exist in CIniFile::LoadFile");

    for (const std::wstring& name : ReadSectionNames(m_Path))
        m_Content[name];
    for (auto& [name, section] : m_Content)
    {
        for (const std::wstring& key : GetProfileKeys(name, kKeyNamesChars, m_Path))
            section[key] = GetProfileString(name, key, L"", kValueChars, m_Path);
    }
}

void CIniFile::Set(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    m_Content[section][key] = value;
}

std::wstring CIniFile::GetValue(const std::wstring& section, const std::wstring& key)
{
    return m_Content[section][key];
}

bool CIniFile::Save() const
{
    std::wstring text;
    for (const auto& [name, section] : m_Content)
    {
        text += L"[" + name + L"]\r\n";
        for (const auto& [key, value] : section)
            text += key + L"=" + value + L"\r\n";
    }
    const std::string bytes = OV::Utf16ToUtf8(text);

    const OV::System::Win32::CHandleHolder file(::CreateFileW(m_Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                              nullptr));
    if (!file.IsValid())
        return false;

    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

} // namespace OV::CommonAppLogic
