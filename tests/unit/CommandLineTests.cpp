#include "Updater/CommandLine.h"

#include "System/Exception.h"

#include <gtest/gtest.h>

using OV::Updater::ParseCommandLine;
using OV::Updater::RunOptions;

namespace
{

// Joins the arguments into the raw command line the way a simple caller would.
RunOptions Parse(const std::vector<std::wstring>& arguments)
{
    std::vector<std::wstring> all{L"Updater.exe"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::wstring raw;
    for (const std::wstring& argument : all)
        raw += (raw.empty() ? L"" : L" ") + argument;
    return ParseCommandLine(raw, all);
}

} // namespace

TEST(CommandLine, NoArgumentsGiveTheDefaults)
{
    const RunOptions options = Parse({});
    EXPECT_EQ(L"TesselAGGamesApp", options.product);
    EXPECT_EQ(L"fablewick", options.dp);
    EXPECT_EQ("live", options.channel);
    EXPECT_FALSE(options.dev || options.prompt || options.notify || options.emitDownloadProgress);
    EXPECT_TRUE(options.showProgress && options.parking);
    EXPECT_TRUE(options.locale.empty() && options.from.empty() && options.patchURL.empty() &&
                options.appArgs.empty() && options.parkPath.empty() && options.installerArgs.empty());
}

TEST(CommandLine, EveryOptionSetsItsField)
{
    const RunOptions options =
        Parse({L"/product=Foo", L"/dp=partner", L"/channel=beta", L"/dev", L"/locale=de-DE",
               L"/from=C:\\a b\\c.exe", L"/patchURL=https://h/x.exe", L"/appargs=-x y", L"/prompt",
               L"/notify", L"/noprog", L"/parkpath=D:\\Park.exe", L"/noparking", L"/emitdownloadprogress"});
    EXPECT_EQ(L"Foo", options.product);
    EXPECT_EQ(L"partner", options.dp);
    EXPECT_EQ("beta", options.channel);
    EXPECT_TRUE(options.dev);
    EXPECT_EQ(L"de-DE", options.locale);
    EXPECT_EQ(L"C:\\a b\\c.exe", options.from);
    EXPECT_EQ(L"https://h/x.exe", options.patchURL);
    EXPECT_EQ(L"-x y", options.appArgs);
    EXPECT_TRUE(options.prompt);
    EXPECT_TRUE(options.notify);
    EXPECT_FALSE(options.showProgress);
    EXPECT_EQ(L"D:\\Park.exe", options.parkPath);
    EXPECT_FALSE(options.parking);
    EXPECT_TRUE(options.emitDownloadProgress);
}

TEST(CommandLine, NamesIgnoreAsciiCaseFlagsMatchWholeAndTheLaterArgumentWins)
{
    EXPECT_EQ(L"Foo", Parse({L"/PRODUCT=Foo"}).product);
    EXPECT_EQ(L"https://X", Parse({L"/PATCHurl=https://X"}).patchURL);
    EXPECT_FALSE(Parse({L"/NoProg"}).showProgress);
    // Only A to Z fold: a dotted capital I is not "i".
    EXPECT_EQ(L"TesselAGGamesApp", Parse({L"/product\u0130=x"}).product);
    EXPECT_EQ(L"", Parse({L"/product=a", L"/product="}).product);
    const RunOptions options = Parse({L"/prompt=yes", L"/devx", L"/noprogress", L"/notify "});
    EXPECT_FALSE(options.prompt || options.dev || options.notify);
    EXPECT_TRUE(options.showProgress);
    // Unknown and empty arguments are ignored.
    EXPECT_EQ(L"TesselAGGamesApp", Parse({L"", L"/", L"product=x", L"-product=y", L"/prod"}).product);
}

TEST(CommandLine, DpTakesTheNextArgumentWithoutConsumingIt)
{
    EXPECT_EQ(L"123", Parse({L"/dp", L"123"}).dp);
    EXPECT_EQ(L"fablewick", Parse({L"/dp"}).dp);
    EXPECT_EQ(L"", Parse({L"/dp="}).dp);
    // /dpx is not /dp=, so it reads the next argument too.
    EXPECT_EQ(L"next", Parse({L"/dpx", L"next"}).dp);
    // The next argument is still examined as an option of its own.
    const RunOptions options = Parse({L"/dp", L"/product=P"});
    EXPECT_EQ(L"/product=P", options.dp);
    EXPECT_EQ(L"P", options.product);
}

TEST(CommandLine, InstallerArgumentsAreCutFromTheRawCommandLine)
{
    const std::vector<std::wstring> arguments{L"a.exe", L"/installerargs=/S", L"/D=C:\\x", L"/noprog"};
    const RunOptions options = ParseCommandLine(L"a.exe /installerargs=/S /D=C:\\x /noprog", arguments);
    EXPECT_EQ(L"/S /D=C:\\x /noprog", options.installerArgs);
    EXPECT_TRUE(options.showProgress) << "the scan stops at /installerargs=";
}

TEST(CommandLine, InstallerArgumentsKeepQuotesAndBlanksExactly)
{
    const std::wstring raw = L"\"C:\\Up dater.exe\" /product=P /installerargs=  \"/D=C:\\My Games\"  /x ";
    const std::vector<std::wstring> arguments{L"C:\\Up dater.exe", L"/product=P", L"/installerargs=",
                                              L"/D=C:\\My Games", L"/x"};
    const RunOptions options = ParseCommandLine(raw, arguments);
    EXPECT_EQ(L"  \"/D=C:\\My Games\"  /x ", options.installerArgs);
    EXPECT_EQ(L"P", options.product);
}

TEST(CommandLine, ChannelThatCannotBeEightBitTextThrows)
{
    EXPECT_EQ("caf\xe9", Parse({L"/channel=caf\u00e9"}).channel);
    EXPECT_THROW(Parse({L"/channel=\u0416"}), OV::System::CException);
}
