#pragma once
// The command line of a test program, and its output lines. The command line: "--name value" options (the
// last one wins, All gives every one),
// "--name" flags, and the other arguments in order. A program checks IsValid and prints its usage when not.

#include "System/String/AnsiWide.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace OV::Tools
{

class CArguments
{
public:
    // flags: the options that take no value; every other "--name" takes the argument after it.
    CArguments(int argc, wchar_t** argv, std::initializer_list<const wchar_t*> flags = {})
    {
        for (int i = 1; i < argc; ++i)
        {
            const std::wstring argument = argv[i];
            bool isFlag = false;
            for (const wchar_t* flag : flags)
                isFlag = isFlag || argument == flag;
            if (isFlag)
                m_Options.emplace_back(argument, L"");
            else if (argument.rfind(L"--", 0) != 0)
                m_Positional.push_back(argument);
            else if (i + 1 < argc)
                m_Options.emplace_back(argument, argv[++i]);
            else
                m_Valid = false;
        }
    }

    bool IsValid() const { return m_Valid; }
    const std::vector<std::wstring>& Positional() const { return m_Positional; }
    bool Has(const wchar_t* name) const { return !All(name).empty(); }

    std::vector<std::wstring> All(const wchar_t* name) const
    {
        std::vector<std::wstring> values;
        for (const auto& [option, value] : m_Options)
            if (option == name)
                values.push_back(value);
        return values;
    }

    std::wstring Text(const wchar_t* name, const std::wstring& fallback = L"") const
    {
        const std::vector<std::wstring> values = All(name);
        return values.empty() ? fallback : values.back();
    }

    std::string Narrow(const wchar_t* name) const { return OV::WideToAnsi(Text(name)); }

    long long Number(const wchar_t* name, long long fallback) const
    {
        const std::wstring text = Text(name);
        return text.empty() ? fallback : std::wcstoll(text.c_str(), nullptr, 10);
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_Options;
    std::vector<std::wstring> m_Positional;
    bool m_Valid = true;
};

// One line of output, flushed at once: a test reads the lines while the program still runs.
inline void PrintLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace OV::Tools
