#include "System/Net/HttpWebRequestCertificate.h"

#include "System/Win32/HandleHolder.h"

#include <algorithm>
#include <vector>

namespace OV::System::Net
{

namespace
{

constexpr DWORD kMaxCertificateTextSize = 65536;

// INTERNET_CERTIFICATE_INFO as InternetQueryOptionA fills it: narrow texts whatever UNICODE says.
struct CertificateInfoA
{
    FILETIME ftExpiry;
    FILETIME ftStart;
    char* lpszSubjectInfo;
    char* lpszIssuerInfo;
    char* lpszProtocolName;
    char* lpszSignatureAlgName;
    char* lpszEncryptionAlgName;
    DWORD dwKeySize;
};
static_assert(sizeof(CertificateInfoA) == sizeof(INTERNET_CERTIFICATE_INFO), "layout of the WinInet struct");

std::string TextOrEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

// The server certificate as WinInet formats it. Wine answers the size query with a size of 1, so a
// buffer that is still too small is doubled, up to a bound, instead of trusting the first answer.
std::string QueryCertificateText(HINTERNET request)
{
    DWORD size = 0;
    if (::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE, nullptr, &size) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::string();
    for (DWORD capacity = std::max<DWORD>(size, 1024); capacity <= kMaxCertificateTextSize; capacity *= 2)
    {
        std::vector<char> text(capacity + 1, '\0');
        size = capacity;
        if (::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE, text.data(), &size))
            return std::string(text.data());
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    return std::string();
}

// Whether the answer came over TLS: an https address redirected to an http one ends on a plain
// connection, which has no certificate (and Wine's WinInet crashes when asked for one).
bool AnswerIsSecure(HINTERNET request)
{
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    return ::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

} // namespace

HttpWebRequestCertificate HttpWebRequestCertificate::Read(HINTERNET request)
{
    HttpWebRequestCertificate certificate;
    if (!AnswerIsSecure(request))
        return certificate;
    certificate.text = QueryCertificateText(request);
    CertificateInfoA info{};
    DWORD infoSize = sizeof(info);
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, &info, &infoSize))
        return certificate;
    const OV::System::Win32::CLocalMemory owned[] = {
        OV::System::Win32::CLocalMemory(info.lpszSubjectInfo),
        OV::System::Win32::CLocalMemory(info.lpszIssuerInfo),
        OV::System::Win32::CLocalMemory(info.lpszProtocolName),
        OV::System::Win32::CLocalMemory(info.lpszSignatureAlgName),
        OV::System::Win32::CLocalMemory(info.lpszEncryptionAlgName)};
    certificate.subject = TextOrEmpty(info.lpszSubjectInfo);
    certificate.issuer = TextOrEmpty(info.lpszIssuerInfo);
    return certificate;
}

} // namespace OV::System::Net
