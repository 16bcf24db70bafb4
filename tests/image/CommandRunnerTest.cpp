#include "ImageTestSupport.h"
#include "image/CommandWords.h"
#include "image/PathRules.h"

TEST(QuoteArgument, EscapesExactlyTheFourSpecialCharacters)
{
    EXPECT_EQ(QuoteArgument("/Volumes/mnt.ab12CD34/Read Me"), "\"/Volumes/mnt.ab12CD34/Read Me\"");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a\"b`c$d\\e"), "\"a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(QuoteArgument("'!*?~ &;|<>"), "\"'!*?~ &;|<>\"");
}

TEST(SplitCommandWords, UndoesTheQuoting)
{
    for (std::string value : {"plain", "with blank", "a\"b`c$d\\e", "\\", "", "x\\y\\\"", "'single'"})
    {
        std::vector<std::string> words =
            SplitCommandWords("hdiutil attach " + QuoteArgument(value) + " -force");
        std::vector<std::string> expected = {"hdiutil", "attach", value, "-force"};
        EXPECT_EQ(words, expected) << value;
    }
    EXPECT_EQ(SplitCommandWords("  bless  --openfolder\t\"/a b/c\"  "),
              (std::vector<std::string>{"bless", "--openfolder", "/a b/c"}));
    EXPECT_EQ(SplitCommandWords("a\\ b \"x\\ny\""), (std::vector<std::string>{"a b", "x\\ny"}));
}

TEST(RunCommand, EchoesAndReportsTheExitStatus)
{
    CFakeRunner runner;
    runner.FailWhen("false");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RunCommand("true \"x\""));
    EXPECT_FALSE(RunCommand("false"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Running Command: true \"x\"\nRunning Command: false\n");
    EXPECT_EQ(runner.commands, (std::vector<std::string>{"true \"x\"", "false"}));
}

TEST(RunCommand, RealShellStatuses)
{
    CTempFolder folder;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RunCommand("true"));
    EXPECT_FALSE(RunCommand("exit 3"));
    EXPECT_FALSE(RunCommand("kill -9 $$"));
    EXPECT_FALSE(RunCommand("no-such-program-kiln 2> /dev/null"));
    EXPECT_TRUE(RunCommand("printf ran > " + QuoteArgument(folder.path + "/out")));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::filesystem::exists(folder.path + "/out"));
}

TEST(PathRules, SingleComponentNames)
{
    for (char const* good : {"a", "Read Me", ".hidden", "...", "a..b", "-x", "a\\b"})
        EXPECT_TRUE(IsSingleComponentName(good)) << good;
    for (char const* bad : {"", ".", "..", "a/b", "/", "a/", "/a"})
        EXPECT_FALSE(IsSingleComponentName(bad)) << bad;
}

TEST(PathRules, ContainedRelativePaths)
{
    for (char const* good : {"", "a", "a/b", "./a", "a//b", "a/", "..a/b..", "a/.../b"})
        EXPECT_TRUE(IsContainedRelativePath(good)) << good;
    for (char const* bad : {"/", "/a", "..", "../a", "a/..", "a/../b", "a//../b"})
        EXPECT_FALSE(IsContainedRelativePath(bad)) << bad;
}
