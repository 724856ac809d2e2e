#include "Updater/Trust/OrganizationName.h"

#include <array>
#include <cctype>
#include <vector>

namespace OV::Updater::Trust
{
namespace
{

constexpr std::wstring_view kOrganizationPrefix = L"2.5.4.10=";

// Splits CertNameToStrW's text into attributes at ", " outside double quotes. Quotes are dropped and
// a doubled quote inside quotes stands for one.
std::vector<std::wstring> SplitNameAttributes(std::wstring_view text)
{
    std::vector<std::wstring> attributes(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const wchar_t c = text[i];
        if (c == L'"')
        {
            if (quoted && i + 1 < text.size() && text[i + 1] == L'"')
            {
                attributes.back().push_back(L'"');
                ++i;
            }
            else
            {
                quoted = !quoted;
            }
        }
        else if (c == L',' && !quoted && i + 1 < text.size() && text[i + 1] == L' ')
        {
            attributes.emplace_back();
            ++i;
        }
        else
        {
            attributes.back().push_back(c);
        }
    }
    return attributes;
}

} // namespace

std::wstring GetSignerOrganization(PCCERT_CONTEXT certificate)
{
    if (certificate == nullptr || certificate->pCertInfo == nullptr)
        return {};
    CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
    const DWORD size = ::CertNameToStrW(X509_ASN_ENCODING, subject, CERT_OID_NAME_STR, nullptr, 0);
    if (size <= 1)
        return {};
    std::wstring text(size, L'\0');
    const DWORD written = ::CertNameToStrW(X509_ASN_ENCODING, subject, CERT_OID_NAME_STR, text.data(), size);
    if (written == 0)
        return {};
    text.resize(written - 1);

    for (const std::wstring& attribute : SplitNameAttributes(text))
    {
        if (attribute.compare(0, kOrganizationPrefix.size(), kOrganizationPrefix) == 0)
            return attribute.substr(kOrganizationPrefix.size());
    }
    return {};
}

std::wstring NormalizeOrganizationName(std::wstring_view text)
{
    if (!text.empty() && text.back() == L'.')
        text.remove_suffix(1);

    std::wstring commasOut;
    commasOut.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == L',' && i + 1 < text.size() && text[i + 1] == L' ')
        {
            commasOut.push_back(L' ');
            ++i;
        }
        else
        {
            commasOut.push_back(text[i]);
        }
    }

    std::wstring result;
    result.reserve(commasOut.size());
    for (const wchar_t c : commasOut)
    {
        const bool blank = c == L' ' || c == L'\t';
        if (blank)
        {
            if (result.empty() || result.back() != L' ')
                result.push_back(L' ');
        }
        else if (c >= L'a' && c <= L'z')
        {
            // What toupper does in the "C" locale; wider characters are left as they are.
            result.push_back(static_cast<wchar_t>(std::toupper(static_cast<int>(c))));
        }
        else
        {
            result.push_back(c);
        }
    }
    return result;
}

bool IsMakerOrganization(std::wstring_view text)
{
    static constexpr std::array<std::wstring_view, 5> kMakerNames = {L"ORVANE", L"ORVANE INC", L"TESSEL",
                                                                     L"TESSEL INC", L"TESSEL AG"};
    // Split at " " and compare word lists; this equals comparing the whole text with each name
    // because a name's words never contain a blank.
    for (const std::wstring_view name : kMakerNames)
    {
        if (text == name)
            return true;
    }
    return false;
}

} // namespace OV::Updater::Trust
