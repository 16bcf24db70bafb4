#include "support/ImageTestSupport.h"
#include "config/PathRules.h"

TEST(QuoteArgument, EscapesExactlyTheFourSpecialCharacters)
{
    EXPECT_EQ(QuoteArgument("/Volumes/mnt.ab12CD34/Read Me"), "\"/Volumes/mnt.ab12CD34/Read Me\"");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a\"b`c$d\\e"), "\"a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(QuoteArgument("'!*?~ &;|<>"), "\"'!*?~ &;|<>\"");
}

// The text of each disk-image tool operation, as the pipeline has always echoed it.
TEST(ToolCommands, FormatTheTextsOfEveryOperation)
{
    CFinderInfo info{};
    info[8] = 0x40;
    info[31] = 0xAB;
    struct
    {
        CToolCommand command;
        char const* text;
    } const cases[] = {
        {MakeCreateCommand("Kiln Vol", 20, "/out/Disk.dmg.sparseimage"),
         "hdiutil create -type SPARSE -fs HFS+ -volname \"Kiln Vol\" -size 20m "
         "\"/out/Disk.dmg.sparseimage\""},
        {MakeCreateCommand("a\"$", -5, "./-x.sparseimage"),
         "hdiutil create -type SPARSE -fs HFS+ -volname \"a\\\"\\$\" -size -5m \"./-x.sparseimage\""},
        {MakeAttachCommand("d.sparseimage", "/tmp/mnt.AbCd1234"),
         "hdiutil attach \"d.sparseimage\" -noverify -noautoopen -mountpoint \"/tmp/mnt.AbCd1234\""},
        {MakeDetachCommand("/tmp/mnt.AbCd1234", false), "hdiutil detach \"/tmp/mnt.AbCd1234\""},
        {MakeDetachCommand("/tmp/mnt.AbCd1234", true), "hdiutil detach \"/tmp/mnt.AbCd1234\" -force"},
        {MakeResizeCommand("d.sparseimage"), "hdiutil resize -sectors min \"d.sparseimage\""},
        {MakeConvertCommand("d.sparseimage", "UDZO", "d.dmg"),
         "hdiutil convert \"d.sparseimage\" -format UDZO -imagekey zlib-level=9 -o \"d.dmg\""},
        {MakeConvertCommand("d.sparseimage", "ULMO", "d.dmg"),
         "hdiutil convert \"d.sparseimage\" -format ULMO -o \"d.dmg\""},
        {MakeBlessCommand("/tmp/mnt.AbCd1234/Apps"), "bless --openfolder \"/tmp/mnt.AbCd1234/Apps\""},
        {MakeSetFinderInfoCommand(info, "/m/Read `Me`"),
         "xattr -s -x -w com.apple.FinderInfo 0000000000000000400000000000000000000000000000000000000000000"
         "0AB \"/m/Read \\`Me\\`\""},
        {MakeJoinRetinaPicturesCommand("/m/bg.png", "/m/bg@2x.png", "/m/bg.tiff"),
         "tiffutil -cathidpicheck \"/m/bg.png\" \"/m/bg@2x.png\" -out \"/m/bg.tiff\""},
    };
    for (auto const& each : cases)
        EXPECT_EQ(each.command.FormatText(), each.text);
}

// The in-process tools get each value as it is, where the shell gets it quoted.
TEST(ToolCommands, ArgumentsAreTheValuesTheShellWouldSee)
{
    for (std::string value : {"plain", "with blank", "a\"b`c$d\\e", "\\", "", "x\\y\\\"", "'single'"})
    {
        CToolCommand command = MakeDetachCommand(value, true);
        EXPECT_EQ(ListCommandArguments(command.words),
                  (std::vector<std::string>{"hdiutil", "detach", value, "-force"}))
            << value;
        CTempFolder folder;
        std::string const out = folder.path + "/out";
        ASSERT_EQ(RunShell("printf '%s' " + command.words[2].FormatText() + " > " + QuoteArgument(out)), 0);
        EXPECT_EQ(ReadWholeFile(out), value);
    }
    CCommandWord path{CCommandWord::EForm::QuotedPath, "-name"};
    EXPECT_EQ(path.FormatText(), "\"./-name\"");
    EXPECT_EQ(path.GetArgument(), "./-name");
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

    // Tool operations reach the handler as their text, and it can fail them.
    runner.FailWhen("hdiutil detach");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RunToolCommand(MakeResizeCommand("a b")));
    EXPECT_FALSE(RunToolCommand(MakeDetachCommand("/m", false)));
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "Running Command: hdiutil resize -sectors min \"a b\"\nRunning Command: hdiutil detach \"/m\"\n");
    EXPECT_EQ(runner.commands.back(), "hdiutil detach \"/m\"");
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
