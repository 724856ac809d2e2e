#include "Updater/Trust/CryptHandles.h"
#include "Updater/Trust/OrganizationName.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using OV::Updater::Trust::CCertContext;
using OV::Updater::Trust::GetSignerOrganization;
using OV::Updater::Trust::IsMakerOrganization;
using OV::Updater::Trust::NormalizeOrganizationName;

namespace
{

using Attribute = std::pair<const char*, std::wstring>; // object identifier, value

template <typename T>
std::vector<BYTE> Encode(LPCSTR type, const T& value)
{
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, &value, 0, nullptr, nullptr, &size))
        return {};
    std::vector<BYTE> bytes(size);
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, &value, 0, nullptr, bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

// A real certificate context whose subject has the given attributes, one per RDN, in order. Its
// signature is not valid, which CertNameToStrW does not care about.
CCertContext MakeCertificate(const std::vector<Attribute>& attributes)
{
    std::vector<std::wstring> values;
    for (const Attribute& attribute : attributes)
        values.push_back(attribute.second);
    std::vector<CERT_RDN_ATTR> rdnAttributes(attributes.size());
    std::vector<CERT_RDN> rdns(attributes.size());
    for (std::size_t i = 0; i < attributes.size(); ++i)
    {
        rdnAttributes[i].pszObjId = const_cast<LPSTR>(attributes[i].first);
        rdnAttributes[i].dwValueType = CERT_RDN_UTF8_STRING;
        rdnAttributes[i].Value.cbData = static_cast<DWORD>(values[i].size() * sizeof(wchar_t));
        rdnAttributes[i].Value.pbData = reinterpret_cast<BYTE*>(values[i].data());
        rdns[i].cRDNAttr = 1;
        rdns[i].rgRDNAttr = &rdnAttributes[i];
    }
    CERT_NAME_INFO name{static_cast<DWORD>(rdns.size()), rdns.data()};
    std::vector<BYTE> nameBytes = Encode(X509_UNICODE_NAME, name);

    BYTE serial = 1;
    BYTE publicKey[] = {0x30, 0x03, 0x02, 0x01, 0x03};
    CERT_INFO info{};
    info.dwVersion = CERT_V1;
    info.SerialNumber = {1, &serial};
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    info.Issuer = {static_cast<DWORD>(nameBytes.size()), nameBytes.data()};
    info.Subject = info.Issuer;
    ::GetSystemTimeAsFileTime(&info.NotBefore);
    info.NotAfter = info.NotBefore;
    info.NotAfter.dwHighDateTime += 100;
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
    info.SubjectPublicKeyInfo.PublicKey = {sizeof(publicKey), publicKey, 0};
    std::vector<BYTE> toBeSigned = Encode(X509_CERT_TO_BE_SIGNED, info);

    BYTE signature[16] = {};
    CERT_SIGNED_CONTENT_INFO signedContent{};
    signedContent.ToBeSigned = {static_cast<DWORD>(toBeSigned.size()), toBeSigned.data()};
    signedContent.SignatureAlgorithm = info.SignatureAlgorithm;
    signedContent.Signature = {sizeof(signature), signature, 0};
    const std::vector<BYTE> certificate = Encode(X509_CERT, signedContent);
    return CCertContext(::CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(),
                                                       static_cast<DWORD>(certificate.size())));
}

} // namespace

TEST(NormalizeOrganizationName, FoldsPunctuationBlanksAndCase)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"Orvane, Inc.", L"ORVANE INC"},
        {L"ORVANE  INC", L"ORVANE INC"},
        {L"Orvane Inc Europe", L"ORVANE INC EUROPE"},
        {L"Orvane\tInc", L"ORVANE INC"},
        {L"Orvane,  Inc", L"ORVANE INC"},
        {L"Orvane,Inc", L"ORVANE,INC"},
        {L"Orvane..", L"ORVANE."},
        {L" Orvane ", L" ORVANE "},
        {L"Orvan\u00e9 Inc", L"ORVAN\u00e9 INC"},
    };
    for (const auto& [text, normalized] : cases)
        EXPECT_EQ(normalized, NormalizeOrganizationName(text)) << '"' << text.c_str() << '"';
}

TEST(IsMakerOrganization, AcceptsOnlyTheMakersNames)
{
    const std::pair<std::wstring, bool> cases[] = {
        {L"Orvane", true},     {L"Orvane, Inc.", true},       {L"ORVANE  INC", true},
        {L"Tessel", true},     {L"Tessel AG", true},          {L"TESSEL\tAG.", true},
        {L"Orvane AG", false}, {L"Orvane Inc Europe", false}, {L"Orvane Games", false},
        {L" Orvane", false},   {L"Orvane,Inc", false},
    };
    for (const auto& [organization, maker] : cases)
        EXPECT_EQ(maker, IsMakerOrganization(NormalizeOrganizationName(organization)))
            << '"' << organization.c_str() << '"';
}

TEST(GetSignerOrganization, ReadsTheOrganizationOfTheSubject)
{
    const std::pair<std::vector<Attribute>, std::wstring> cases[] = {
        {{{szOID_COUNTRY_NAME, L"US"}, {szOID_ORGANIZATION_NAME, L"Orvane, Inc."}, {szOID_COMMON_NAME, L"x"}},
         L"Orvane, Inc."},
        {{{szOID_COMMON_NAME, L"a, b"}, {szOID_ORGANIZATION_NAME, L"Say \"Hi\", Ltd"}}, L"Say \"Hi\", Ltd"},
        {{{szOID_ORGANIZATION_NAME, L"First"}, {szOID_ORGANIZATION_NAME, L"Second"}}, L"First"},
        {{{szOID_COUNTRY_NAME, L"US"}, {szOID_COMMON_NAME, L"Orvane"}}, L""},
        {{{szOID_COMMON_NAME, L"x, 2.5.4.10=Orvane"}}, L""},
    };
    for (const auto& [subject, organization] : cases)
    {
        const CCertContext certificate = MakeCertificate(subject);
        ASSERT_TRUE(certificate) << "error " << ::GetLastError();
        EXPECT_EQ(organization, GetSignerOrganization(certificate.Get()))
            << '"' << organization.c_str() << '"';
    }
    EXPECT_EQ(L"", GetSignerOrganization(nullptr));
}
