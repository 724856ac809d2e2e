#pragma once

#include <map>
#include <string>

namespace OV::CommonAppLogic
{

// An INI file held in memory: read through the private-profile calls, written back whole as UTF-8.
class CIniFile
{
public:
    using Section = std::map<std::wstring, std::wstring>;
    using Content = std::map<std::wstring, Section>;

    // Remembers the path and reads the file when it exists; a missing file leaves the object empty.
    void Load(const std::wstring& path);
    // Reads the remembered file again; throws CException when it does not exist. Values are cut to 518
    // characters.
    void LoadFile();
    void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // A missing section or key is created empty, so that Save writes it.
    std::wstring GetValue(const std::wstring& section, const std::wstring& key);
    // Replaces the file with the content, UTF-8 without byte-order mark, CR LF line ends. Returns false,
    // without raising, when the file cannot be written.
    bool Save() const;

    const std::wstring& GetPath() const { return m_Path; }
    const Content& GetContent() const { return m_Content; }

private:
    std::wstring m_Path;
    Content m_Content;
};

} // namespace OV::CommonAppLogic
