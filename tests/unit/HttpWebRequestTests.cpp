#include "System/Net/HttpWebRequest.h"

#include "System/Exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using OV::System::CException;
using OV::System::Net::CHttpWebRequest;
using OV::System::Net::HttpWebRequestResult;

TEST(HttpWebRequestScheme, OnlyHttpAndHttpsAreAccepted)
{
    for (const char* text : {"ftp://127.0.0.1/file", "file:///C:/x", "127.0.0.1/x", "httpx://127.0.0.1/", ""})
    {
        for (const bool withFile : {false, true})
        {
            try
            {
                if (withFile)
                    CHttpWebRequest request(text, L"out.bin", CHttpWebRequest::kStartAtOnce);
                else
                    CHttpWebRequest request(text);
                ADD_FAILURE() << text << " was accepted";
            }
            catch (const CException& e)
            {
                EXPECT_EQ(L"Only http and https supported", e.GetMessageText()) << text;
            }
        }
    }
}

TEST(HttpWebRequestScheme, CapitalSchemeIsAcceptedAndNothingStartsBeforeStart)
{
    CHttpWebRequest request("HTTPS://127.0.0.1:9//a//b?c=d");
    EXPECT_EQ("https", request.GetUrl().scheme);
    EXPECT_EQ("/a/b?c=d", request.GetUrl().GetObjectName());
    EXPECT_EQ(CHttpWebRequest::StateCreated, request.GetState());
    EXPECT_FALSE(request.IsComplete() || request.GotResponse() || request.Succeeded());
    EXPECT_EQ(-1, request.GetStatusCode());
}

TEST(HttpWebRequestProgress, RisesFromOneToNinetyNineAndReachesHundredOnlyWhenComplete)
{
    struct Case
    {
        bool complete;
        std::int32_t status;
        std::int64_t contentLength;
        std::int64_t expectedTotal;
        std::uint64_t received;
        float expected;
    } const cases[] = {
        {false, -1, 1000, 1000, 500, 0.0f},    // no status yet
        {false, 200, 0, 0, 0, 22.0f},          // a known length of 0
        {false, 200, 1000, 1000, 500, 50.0f},  // half
        {false, 200, 1000, 1000, 1000, 99.0f}, // all bytes, but not complete
        {false, 200, 1000, 1000, 5000, 99.0f}, // more than announced stays below 100
        {false, 200, -1, 0, 123456789, 1.0f},  // unknown length
        {false, 200, -1, 1000, 500, 1.0f},     // unknown now, known earlier: the unknown length decides
        {true, -1, -1, 0, 0, 100.0f},          // complete without a response
        {true, 200, 1000, 1000, 10, 100.0f},   // complete is 100 whatever arrived
    };
    for (const Case& c : cases)
    {
        EXPECT_NEAR(c.expected,
                    HttpWebRequestResult::ComputeProgressPercent(c.complete, c.status, c.contentLength,
                                                                 c.expectedTotal, c.received),
                    0.001f)
            << c.complete << " " << c.status << " " << c.contentLength << " " << c.expectedTotal << " "
            << c.received;
    }
}
