#pragma once

#include <string>

namespace OV::CommonAppLogic
{

// The least client identity store that the analytics need: the user id that the games client keeps for
// the signed-in user, and the escaping of one query key or value.
class CClientIdentity
{
public:
    // Where the games client leaves the user id (REG_SZ).
    static constexpr wchar_t kKeyPath[] = L"HKEY_CURRENT_USER\\Software\\Orvane\\ClientIdentity";
    static constexpr wchar_t kUserIdValue[] = L"UserId";

    // The user id as UTF-8; empty when the client has stored none (or it cannot be read).
    static std::string GetUserId();

    // The UTF-8 text escaped for a URL query component by RFC 3986: the unreserved bytes (A-Z, a-z, 0-9,
    // "-", ".", "_", "~") stay, every other byte becomes "%" and two upper-case hexadecimal digits.
    static std::string EscapeQueryText(const std::string& utf8Text);
};

} // namespace OV::CommonAppLogic
