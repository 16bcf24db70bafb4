#include "pipeline/ImagePipeline.h"
#include "support/ImageTestSupport.h"
#include "udif/LicenseResources.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace
{
// Runs images with a fake runner; mount points are made in a private temporary folder.
class ImagePipeline : public testing::Test
{
protected:
    bool Run(CFakeRunner& runner, std::string const& content = "<image/>", char const* openFolder = "Apps")
    {
        CConfigSnippet snippet(content);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        bool result = ProcessImage(snippet.Root(), "/out/Disk.dmg", "Kiln Vol", openFolder, 20);
        errors = testing::internal::GetCapturedStderr();
        output = testing::internal::GetCapturedStdout();
        mountPoint.clear();
        for (std::string const& command : runner.commands)
        {
            if (!MountPointOf(command).empty())
                mountPoint = MountPointOf(command);
        }
        return result;
    }

    // Command texts by short step names; anything else stands for itself.
    std::vector<std::string> Commands(std::vector<std::string> const& steps) const
    {
        std::string const sparse = "\"/out/Disk.dmg.sparseimage\"";
        std::map<std::string, std::string> const texts = {
            {"rm image", "rm \"/out/Disk.dmg\""},
            {"rm sparse", "rm " + sparse},
            {"create", "hdiutil create -type SPARSE -fs HFS+ -volname \"Kiln Vol\" -size 20m " + sparse},
            {"attach",
             "hdiutil attach " + sparse + " -noverify -noautoopen -mountpoint \"" + mountPoint + "\""},
            {"bless", "bless --openfolder \"" + mountPoint + "/Apps\""},
            {"detach", "hdiutil detach \"" + mountPoint + "\""},
            {"detach force", "hdiutil detach \"" + mountPoint + "\" -force"},
            {"convert",
             "hdiutil convert " + sparse + " -format UDZO -imagekey zlib-level=9 -o \"/out/Disk.dmg\""},
        };
        std::vector<std::string> commands;
        for (std::string const& step : steps)
            commands.push_back(texts.count(step) ? texts.at(step) : step);
        return commands;
    }

    CTemporaryDirectoryScope temporaryScope;
    CTempFolder& temporary = temporaryScope.folder;
    std::string output;
    std::string errors;
    std::string mountPoint;
};

struct CStateRow
{
    char const* failingCommand; // prefix of the command that fails, or empty
    char const* content;
    std::vector<std::string> steps;
    std::string error; // "@" stands for the mount point
};
} // namespace

TEST_F(ImagePipeline, EveryRowOfTheStateTable)
{
    std::vector<std::string> const all = {"rm image", "rm sparse", "create",  "attach",
                                          "bless",    "detach",    "convert", "rm sparse"};
    std::vector<CStateRow> const rows = {
        {"", "<image/>", all, ""},
        {"rm \"/out/Disk.dmg\"", "<image/>", all, ""}, // nothing stale to remove
        {"hdiutil create",
         "<image/>",
         {"rm image", "rm sparse", "create"},
         "Error: Unable to create temporary sparse disk image '/out/Disk.dmg.sparseimage'.\n"},
        {"hdiutil attach",
         "<image/>",
         {"rm image", "rm sparse", "create", "attach", "rm sparse"},
         "Error: Unable to mount disk image \"Kiln Vol\".\n"},
        {"",
         "<image><file name='x'/></image>",
         {"rm image", "rm sparse", "create", "attach", "detach", "rm sparse"},
         "Error: 'file' tag required attribute 'source' missing.\n"},
        {"bless",
         "<image/>",
         {"rm image", "rm sparse", "create", "attach", "bless", "detach", "rm sparse"},
         "Error: Unable to set '@/Apps' as the mount folder.\n"},
        {"hdiutil detach",
         "<image/>",
         {"rm image", "rm sparse", "create", "attach", "bless", "detach", "detach force", "rm sparse"},
         "Error: Unable to detach disk image.\n"},
        {"hdiutil convert", "<image/>", all, "Error: Error converting disk image to read only.\n"},
        {"rm \"/out/Disk.dmg.sparseimage\"", "<image/>", all, "Error:  Unable to remove sparse image.\n"},
    };
    for (CStateRow const& row : rows)
    {
        SCOPED_TRACE(std::string("failing: ") + row.failingCommand + " " + row.content);
        CFakeRunner runner;
        if (*row.failingCommand)
            runner.FailWhen(row.failingCommand);
        EXPECT_EQ(Run(runner, row.content), row.error.empty());
        std::string error = row.error;
        if (error.find('@') != std::string::npos)
            error.replace(error.find('@'), 1, mountPoint);
        EXPECT_EQ(errors, error);
        EXPECT_EQ(runner.commands, Commands(row.steps));
        std::string echo;
        for (std::string const& command : runner.commands)
            echo += "Running Command: " + command + "\n";
        EXPECT_EQ(output, echo);
        // Mount points are removed again, whatever happened.
        EXPECT_TRUE(std::filesystem::is_empty(temporary.path));
    }
}

TEST_F(ImagePipeline, MountPointIsAFreshEmptyFolderUnderTheTemporaryFolder)
{
    CFakeRunner runner;
    bool emptyFolder = false;
    runner.onCommand = [&](std::string const& text)
    {
        std::string folder = MountPointOf(text);
        if (!folder.empty())
            emptyFolder = std::filesystem::is_directory(folder) && std::filesystem::is_empty(folder);
    };
    EXPECT_TRUE(Run(runner));
    EXPECT_TRUE(emptyFolder);
    std::string prefix = temporary.path + "/mnt.";
    ASSERT_EQ(mountPoint.size(), prefix.size() + 8);
    EXPECT_EQ(mountPoint.substr(0, prefix.size()), prefix);
    for (char c : mountPoint.substr(prefix.size()))
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << mountPoint;
}

TEST_F(ImagePipeline, NoMountPointRemovesTheSparseImage)
{
    CFakeRunner runner;
    std::string missing = temporary.path + "/missing";
    setenv("TMPDIR", missing.c_str(), 1);
    EXPECT_FALSE(Run(runner));
    EXPECT_EQ(errors,
              "Error: Unable to create a mount point in '" + missing + "' (No such file or directory).\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "rm sparse"}));
}

TEST_F(ImagePipeline, EmptyOpenFolderSkipsBless)
{
    CFakeRunner runner;
    EXPECT_TRUE(Run(runner, "<image/>", ""));
    EXPECT_EQ(runner.commands,
              Commands({"rm image", "rm sparse", "create", "attach", "detach", "convert", "rm sparse"}));
}

TEST_F(ImagePipeline, OpenFolderOutsideTheVolumeIsRefusedBeforeAnyCommand)
{
    CFakeRunner runner;
    for (char const* value : {"../Elsewhere", "/Applications", "Apps/../.."})
    {
        EXPECT_FALSE(Run(runner, "<image/>", value));
        EXPECT_EQ(errors, std::string("Error: 'image' tag attribute 'open_folder' value '") + value +
                              "' is not a relative path inside the volume.\n");
    }
    EXPECT_TRUE(runner.commands.empty());
}

TEST_F(ImagePipeline, UnwritableDesktopDatabaseIsAnInternalError)
{
    CFakeRunner runner;
    // A folder where the root's .DS_Store should go makes the database writer throw.
    runner.onCommand = [](std::string const& text)
    {
        if (!MountPointOf(text).empty())
            std::filesystem::create_directory(MountPointOf(text) + "/.DS_Store");
    };
    EXPECT_FALSE(Run(runner, "<image><file source='a' name='b' x='1'/></image>"));
    EXPECT_EQ(errors.rfind("Internal Error: '", 0), 0u) << errors;
    EXPECT_EQ(errors.substr(errors.size() - 2), "'\n") << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach",
                                         "cp -r \"a\" \"" + mountPoint + "/b\"", "detach", "rm sparse"}));
}

TEST_F(ImagePipeline, ValuesGoIntoCommandsQuotedAndUnchanged)
{
    CFakeRunner runner;
    CConfigSnippet snippet("<image/>");
    testing::internal::CaptureStdout();
    ProcessImage(snippet.Root(), "a\"$b`c\\.dmg", "Vol $HOME", "", 0);
    ProcessImage(snippet.Root(), "o.dmg", "V", "", -5);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(runner.commands[0], "rm \"a\\\"\\$b\\`c\\\\.dmg\"");
    EXPECT_EQ(runner.commands[2], "hdiutil create -type SPARSE -fs HFS+ -volname \"Vol \\$HOME\" -size 0m "
                                  "\"a\\\"\\$b\\`c\\\\.dmg.sparseimage\"");
    EXPECT_EQ(runner.commands[9],
              "hdiutil create -type SPARSE -fs HFS+ -volname \"V\" -size -5m \"o.dmg.sparseimage\"");
}

TEST_F(ImagePipeline, FormatAndAutomaticSizeShowInTheCommands)
{
    std::string const sparse = "\"/out/Disk.dmg.sparseimage\"";
    for (char const* format : {"UDBZ", "ULMO", "udro"})
    {
        SCOPED_TRACE(format);
        CFakeRunner runner;
        EXPECT_TRUE(Run(runner, std::string("<image format='") + format + "' template_size='Auto'/>", ""));
        std::string upper = format;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        // A large sparse volume, shrunk to its content before the convert; no zlib level but for UDZO.
        EXPECT_EQ(
            runner.commands,
            Commands({"rm image", "rm sparse",
                      "hdiutil create -type SPARSE -fs HFS+ -volname \"Kiln Vol\" -size 32768m " + sparse,
                      "attach", "detach", "hdiutil resize -sectors min " + sparse,
                      "hdiutil convert " + sparse + " -format " + upper + " -o \"/out/Disk.dmg\"",
                      "rm sparse"}));
        EXPECT_EQ(errors, "");
    }
    CFakeRunner runner;
    runner.FailWhen("hdiutil resize");
    EXPECT_FALSE(Run(runner, "<image template_size='auto'/>", ""));
    EXPECT_EQ(errors, "Error: Unable to shrink the disk image to its content.\n");
    EXPECT_EQ(runner.commands.back(), "rm \"/out/Disk.dmg.sparseimage\"");
    EXPECT_EQ(std::count_if(runner.commands.begin(), runner.commands.end(),
                            [](std::string const& c) { return c.rfind("hdiutil convert", 0) == 0; }),
              0);
}

TEST_F(ImagePipeline, BadFormatsAndLicensesFailBeforeAnyCommand)
{
    std::ofstream(temporary.path + "/terms.txt") << "Terms.\n";
    std::string const terms = temporary.path + "/terms.txt";
    std::vector<std::pair<std::string, std::string>> const cases = {
        {"<image format='ULFO'/>",
         "Error: 'image' tag attribute 'format' value 'ULFO' (LZFSE) is not available: no LZFSE library "
         "ships "
         "with Debian, so kilnpack cannot write it on Linux. Use 'ULMO' (LZMA, macOS 10.15 and later) or "
         "'UDZO' (every macOS).\n"},
        {"<image format='UDIF'/>",
         "Error: 'image' tag attribute 'format' value 'UDIF' is unknown; use 'UDZO', 'UDBZ', 'ULMO' or "
         "'UDRO'.\n"},
        {"<image><license><text language='en_US' file='" + temporary.path +
             "/missing.txt'/></license></image>",
         "Error: Unable to read license file '" + temporary.path +
             "/missing.txt': No such file or directory.\n"},
        {"<image><license><text language='xx_XX' file='" + terms + "'/></license></image>",
         "Error: 'text' tag attribute 'language' value 'xx_XX' is not a known language (" +
             ListLicenseLanguages() + ").\n"},
        {"<image><license default_language='de_DE'><text language='en_US' file='" + terms +
             "'/></license></image>",
         "Error: 'license' tag attribute 'default_language' value 'de_DE' names no 'text' tag.\n"},
        {"<image><license/></image>", "Error: 'license' tag holds no 'text' tag.\n"},
    };
    for (auto const& [content, error] : cases)
    {
        SCOPED_TRACE(content);
        CFakeRunner runner;
        EXPECT_FALSE(Run(runner, content));
        EXPECT_EQ(errors, error);
        EXPECT_TRUE(runner.commands.empty());
    }

    // A sound licence whose image can't take it (here: the fake convert wrote nothing) fails the image.
    CFakeRunner runner;
    EXPECT_FALSE(
        Run(runner, "<image><license><text language='en_US' file='" + terms + "'/></license></image>"));
    EXPECT_EQ(errors,
              "Error: Unable to add the license agreement to the image: cannot open /out/Disk.dmg: No "
              "such file or directory.\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach", "bless", "detach",
                                         "convert", "rm sparse"}));
}
