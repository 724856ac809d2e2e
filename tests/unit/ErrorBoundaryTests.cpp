#include "System/ErrorBoundary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace OV::Tests
{

constexpr char kSource[] = "Ov\\Tests\\ErrorBoundaryTests.cpp";
constexpr System::FixedPlace kFixed(279);
constexpr System::FixedPlace kRenamed(447, "OV::Analytics::CAnalyticsBase::ComposeItem");

// Building a message may change the last error, as formatting a system text can.
std::string Clobbering()
{
    ::SetLastError(ERROR_INVALID_DATA);
    return "message";
}

// A Win32 call's failure: true, with the last error set.
bool FailWith(DWORD error)
{
    ::SetLastError(error);
    return true;
}

struct CProbe
{
    static constexpr int kFirstLine = __LINE__;
    static std::vector<int> LastError()
    {
        OV_THROW_LAST_ERROR_IF(FailWith(ERROR_FILE_NOT_FOUND), Clobbering());
        return {};
    }
    static void Win32() { OV_THROW_WIN32_IF(ERROR_ACCESS_DENIED, Clobbering()); }
    static void Failed() { OV_THROW_IF_FAILED(E_FAIL, "x"); }
    static void Fixed() { OV_THROW_AT(kFixed, Clobbering()); }
    static void Renamed() { OV_THROW_AT(kRenamed, "x"); }
};

} // namespace OV::Tests

TEST(ErrorBoundary, CapturesTheLastErrorBeforeTheMessageAndThePlace)
{
    using OV::Tests::CProbe;
    struct Case
    {
        void (*raise)();
        std::uint32_t lastError;
        int line;
        const char* function;
    };
    const Case cases[] = {
        {[] { CProbe::LastError(); }, ERROR_FILE_NOT_FOUND, CProbe::kFirstLine + 3,
         "OV::Tests::CProbe::LastError"},
        {&CProbe::Win32, ERROR_ACCESS_DENIED, CProbe::kFirstLine + 6, "OV::Tests::CProbe::Win32"},
        {&CProbe::Failed, static_cast<std::uint32_t>(E_FAIL), CProbe::kFirstLine + 7,
         "OV::Tests::CProbe::Failed"},
        {&CProbe::Fixed, 0, 279, "OV::Tests::CProbe::Fixed"},
        {&CProbe::Renamed, 0, 447, "OV::Analytics::CAnalyticsBase::ComposeItem"},
    };
    for (const Case& c : cases)
    {
        ::SetLastError(0);
        try
        {
            c.raise();
            ADD_FAILURE() << c.function << " did not raise";
        }
        catch (const OV::System::CException& e)
        {
            EXPECT_EQ(c.lastError, e.GetLastErrorCode()) << c.function;
            EXPECT_EQ(c.line, e.GetLine()) << c.function;
            EXPECT_EQ(c.function, e.GetFunction());
            EXPECT_EQ(OV::Tests::kSource, e.GetSourceFile()) << c.function;
        }
    }
}
