#include "Updater/OptionsText.h"

#include <cwchar>

namespace OV::Updater
{

namespace
{

std::wstring Escape(const std::wstring& text)
{
    std::wstring escaped;
    for (wchar_t c : text)
    {
        if (c >= 0x20 && c < 0x7F && c != L'\\')
        {
            escaped += c;
            continue;
        }
        wchar_t code[8] = {};
        std::swprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
        escaped += code;
    }
    return escaped;
}

std::wstring Flag(bool value)
{
    return value ? L"1" : L"0";
}

} // namespace

std::wstring DescribeOptions(const RunOptions& options)
{
    std::wstring channel(options.channel.begin(), options.channel.end());
    for (wchar_t& c : channel)
        c = static_cast<wchar_t>(static_cast<unsigned char>(c));
    return L"options: product=[" + Escape(options.product) + L"] dp=[" + Escape(options.dp) + L"] channel=[" +
           Escape(channel) + L"] dev=" + Flag(options.dev) + L" locale=[" + Escape(options.locale) +
           L"] from=[" + Escape(options.from) + L"] patchURL=[" + Escape(options.patchURL) + L"] appArgs=[" +
           Escape(options.appArgs) + L"] prompt=" + Flag(options.prompt) + L" notify=" +
           Flag(options.notify) + L" showProgress=" + Flag(options.showProgress) + L" parkPath=[" +
           Escape(options.parkPath) + L"] parking=" + Flag(options.parking) + L" emitDownloadProgress=" +
           Flag(options.emitDownloadProgress) + L" installerArgs=[" + Escape(options.installerArgs) + L"]";
}

} // namespace OV::Updater
