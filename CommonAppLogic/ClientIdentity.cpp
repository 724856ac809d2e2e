#include "CommonAppLogic/ClientIdentity.h"

#include "System/String/AnsiWide.h"
#include "System/Win32/RegistryKey.h"

namespace OV::CommonAppLogic
{

namespace
{

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string CClientIdentity::GetUserId()
{
    try
    {
        const System::Win32::CRegistryKey key(kKeyPath, true, 0);
        return OV::Utf16ToUtf8(key.GetString(kUserIdValue, L""));
    }
    catch (...)
    {
        // No key, another type, no access: the client has no user id to offer.
        return std::string();
    }
}

std::string CClientIdentity::EscapeQueryText(const std::string& utf8Text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(utf8Text.size());
    for (const char ch : utf8Text)
    {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c))
        {
            escaped.push_back(ch);
            continue;
        }
        escaped.push_back('%');
        escaped.push_back(kHex[c >> 4]);
        escaped.push_back(kHex[c & 0x0F]);
    }
    return escaped;
}

} // namespace OV::CommonAppLogic
