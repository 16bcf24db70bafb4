#include "RunKilnpack.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
class CommandLine : public testing::Test
{
protected:
    CRunResult Run(std::vector<std::string> const& arguments)
    {
        return RunKilnpack(arguments, directory.path);
    }

    CTempFolder directory;
};

std::string Banner(std::string const& rest = "")
{
    return kBanner + rest;
}
} // namespace

TEST_F(CommandLine, NoArgumentsPrintsBannerAndUsage)
{
    CRunResult result = Run({});
    EXPECT_EQ(result.output, Banner(kUsage));
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0);
}

TEST_F(CommandLine, HelpInAnyLetterCasePrintsUsageOnce)
{
    for (char const* help : {"--help", "--HELP", "--Help"})
    {
        CRunResult result = Run({help});
        EXPECT_EQ(result.output, Banner(kUsage)) << help;
        EXPECT_EQ(result.errors, "");
    }
    EXPECT_EQ(Run({"--help", "--help"}).output, Banner(kUsage));
}

TEST_F(CommandLine, VersionIsPrintedInPlaceEachTime)
{
    CRunResult result = Run({"--version", "--VERSION"});
    EXPECT_EQ(result.output, Banner("Version: 0.1\nVersion: 0.1\n"));
    EXPECT_EQ(result.errors, "");
    // The usage line comes after everything else, wherever --help stands.
    EXPECT_EQ(Run({"--help", "--version"}).output, Banner("Version: 0.1\n") + kUsage);
}

TEST_F(CommandLine, OnlyWholeLongOptionsAreOptions)
{
    CRunResult result = Run({"-h", "-v", "--help=yes", "--", "-version"});
    EXPECT_EQ(result.output, Banner());
    EXPECT_EQ(result.errors, "Error: Unable to access file '-h'.\n"
                             "Error: Unable to access file '-v'.\n"
                             "Error: Unable to access file '--help=yes'.\n"
                             "Error: Unable to access file '--'.\n"
                             "Error: Unable to access file '-version'.\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(CommandLine, DumpAloneOrRepeatedPrintsNothingMore)
{
    EXPECT_EQ(Run({"--dump"}).output, Banner());
    CRunResult result = Run({"--DUMP", "--Dump"});
    EXPECT_EQ(result.output, Banner());
    EXPECT_EQ(result.errors, "");
}

TEST_F(CommandLine, OptionsKeepTheirMeaningInDumpMode)
{
    CRunResult result = Run({"--dump", "--version", "--help"});
    EXPECT_EQ(result.output, Banner("Version: 0.1\n") + kUsage);
    EXPECT_EQ(result.errors, "");
}

TEST_F(CommandLine, UsageFollowsTheOutputOfAConfigurationFile)
{
    directory.WriteFile("bad.xml", "<config/>");
    CRunResult result = Run({"--help", "bad.xml", "--version"});
    EXPECT_EQ(result.output, Banner("Version: 0.1\n") + kUsage);
    EXPECT_EQ(result.errors, "Warning: Unknown tag 'config' read while expected 'kilnpack'.\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(CommandLine, PathsAfterDumpAreDatabasesNotConfigurations)
{
    directory.WriteFile("bad.xml", "<config/>");
    CRunResult result = Run({"bad.xml", "--dump", "bad.xml", "bad.xml"});
    EXPECT_EQ(result.output, Banner());
    std::string const warning = "Warning: Unknown tag 'config' read while expected 'kilnpack'.\n";
    ASSERT_EQ(result.errors.rfind(warning, 0), 0u) << result.errors;
    // Each later path is read as a desktop database and fails as one, on a line of its own.
    std::string rest = result.errors.substr(warning.size());
    size_t second = rest.find("\nInternal Error: '");
    ASSERT_EQ(rest.rfind("Internal Error: '", 0), 0u) << rest;
    ASSERT_NE(second, std::string::npos) << rest;
    EXPECT_EQ(rest.substr(0, second + 1), rest.substr(second + 1));
}
