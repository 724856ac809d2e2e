#include "System/ErrorText.h"
#include "System/Exception.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

using OV::System::CException;

TEST(Exception, DescriptionIndentsTheInnerChainAndAddsTheLastError)
{
    ::SetLastError(0);
    const CException inner("Ov\\System\\Io\\Stream\\FileStream.cpp", 88, "Inner::Fn",
                           std::string_view("line1\r\nline2"));
    const CException outer("Ov\\System\\Net\\HttpWebRequest.cpp", 245, "Outer::Fn", inner, "outer");
    const CException copy(outer); // holds its own copy of the chain
    EXPECT_NE(outer.GetInner(), copy.GetInner());
    EXPECT_EQ(L"Exception:  outer\r\nIn Function: Outer::Fn\r\nFile Ov\\System\\Net\\HttpWebRequest.cpp Line "
              L"245\r\nInner Exception:  line1\r\n\tline2\r\n\tIn Function: Inner::Fn\r\n"
              L"\tFile Ov\\System\\Io\\Stream\\FileStream.cpp Line 88\r\n",
              copy.GetDescription());
    EXPECT_EQ(L"Net.HttpWebRequest.245-Stream.FileStream.88", copy.GetLocationTrail());

    ::SetLastError(ERROR_FILE_NOT_FOUND);
    const CException failed("Ov\\Main.cpp", 7, "Main", std::string_view("boom"));
    EXPECT_EQ(2u, failed.GetLastErrorCode());
    EXPECT_NE(std::wstring::npos,
              failed.GetDescription().find(L"File Ov\\Main.cpp Line 7\r\nLastError=2; " +
                                           OV::System::GetErrorTextW(ERROR_FILE_NOT_FOUND)));
    EXPECT_EQ("(No Error Description)\r\n", OV::System::GetErrorText(0x2FFFFFFF));
}
