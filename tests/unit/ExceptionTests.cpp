#include "System/Exception.h"
#include "System/ErrorText.h"
#include "System/Platform.h"

#include <gtest/gtest.h>

using OV::System::CException;

namespace
{

CException Raise(const char* file, int line, const char* function, const char* message, DWORD lastError)
{
    ::SetLastError(lastError);
    return CException(file, line, function, std::string_view(message));
}

} // namespace

TEST(ExceptionText, SingleLevelWithoutLastErrorIsThreeLines)
{
    const CException e =
        Raise("Ov\\System\\Io\\FilePath.cpp", 50, "OV::System::IO::CFilePath::ValidatePath", "Empty path", 0);
    EXPECT_EQ(L"Exception:  Empty path\r\nIn Function: OV::System::IO::CFilePath::ValidatePath\r\n"
              L"File Ov\\System\\Io\\FilePath.cpp Line 50\r\n",
              e.GetDescription());
    EXPECT_EQ(0u, e.GetLastErrorCode());
}

TEST(ExceptionText, LastErrorAddsTheSystemText)
{
    const CException e = Raise("Ov\\Main.cpp", 7, "Main", "boom", ERROR_FILE_NOT_FOUND);
    const std::wstring text = e.GetDescription();
    const std::wstring expected = L"LastError=2; " + OV::System::GetErrorTextW(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(expected, text.substr(text.size() - expected.size()));
    EXPECT_NE(std::wstring::npos, text.find(L"File Ov\\Main.cpp Line 7\r\nLastError=2; "));
}

TEST(ExceptionText, UnknownErrorCodeHasNoDescription)
{
    EXPECT_EQ("(No Error Description)\r\n", OV::System::GetErrorText(0x2FFFFFFF));
    const CException e = Raise("Main.cpp", 1, "f", "x", 0x2FFFFFFF);
    const std::wstring text = e.GetDescription();
    EXPECT_NE(std::wstring::npos, text.find(L"LastError=805306367; (No Error Description)\r\n"));
}

TEST(ExceptionText, InnerChainIsIndentedOneTabPerLevel)
{
    const CException inner =
        Raise("Ov\\System\\Io\\Stream\\FileStream.cpp", 88, "Inner::Fn", "line1\r\nline2", 0);
    ::SetLastError(0);
    const CException outer("Ov\\System\\Net\\HttpWebRequest.cpp", 245, "Outer::Fn", inner, "outer");
    EXPECT_EQ(L"Exception:  outer\r\nIn Function: Outer::Fn\r\nFile Ov\\System\\Net\\HttpWebRequest.cpp Line "
              L"245\r\n"
              L"Inner Exception:  line1\r\n\tline2\r\n\tIn Function: Inner::Fn\r\n"
              L"\tFile Ov\\System\\Io\\Stream\\FileStream.cpp Line 88\r\n",
              outer.GetDescription());
}

TEST(ExceptionText, LocationTrailNamesFolderFileAndLine)
{
    const CException inner = Raise("Ov\\System\\Io\\Stream\\FileStream.cpp", 88, "f", "x", 0);
    const CException outer("Ov\\System\\Net\\HttpWebRequest.cpp", 245, "g", inner, "y");
    EXPECT_EQ(L"Net.HttpWebRequest.245-Stream.FileStream.88", outer.GetLocationTrail());
    EXPECT_EQ(L"Main.17", Raise("Main.cpp", 17, "f", "x", 0).GetLocationTrail());
}

TEST(ExceptionCopy, CopiesTheInnerChainDeeply)
{
    CException* inner = new CException(Raise("a\\b.cpp", 1, "f", "inner", 0));
    const CException outer("c\\d.cpp", 2, "g", *inner, "outer");
    delete inner; // the outer exception holds its own copy
    const CException copy(outer);
    ASSERT_NE(nullptr, copy.GetInner());
    EXPECT_NE(outer.GetInner(), copy.GetInner());
    EXPECT_EQ(L"inner", copy.GetInner()->GetMessageText());
    EXPECT_EQ(outer.GetDescription(), copy.GetDescription());
}

TEST(ExceptionCopy, ThrownByValueAndCaughtByReference)
{
    try
    {
        throw CException("x\\y.cpp", 3, "h", L"wide message \u00e9");
    }
    catch (const CException& caught)
    {
        EXPECT_EQ(L"wide message \u00e9", caught.GetMessageText());
        EXPECT_EQ(3, caught.GetLine());
        EXPECT_EQ("h", caught.GetFunction());
        return;
    }
    FAIL() << "not caught";
}
