#include "Updater/Trust/OrganizationName.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using OV::Updater::Trust::IsMakerOrganization;
using OV::Updater::Trust::NormalizeOrganizationName;

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
