#include "image/ImagePipeline.h"
#include "ImageTestSupport.h"

#include <algorithm>
#include <cctype>

namespace
{
// Runs one image with the fake runner, mount points made in a private temporary folder.
class ImagePipeline : public testing::Test
{
protected:
    void SetUp() override
    {
        char const* previous = std::getenv("TMPDIR");
        hadTemporary = previous != nullptr;
        previousTemporary = previous ? previous : "";
        setenv("TMPDIR", temporary.path.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadTemporary)
            setenv("TMPDIR", previousTemporary.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    bool Run(std::string const& content = "<image/>", char const* openFolder = "Apps", int size = 20)
    {
        CConfigSnippet snippet(content);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        bool result = ProcessImage(snippet.Root(), "/out/Disk.dmg", "Kiln Vol", openFolder, size);
        errors = testing::internal::GetCapturedStderr();
        output = testing::internal::GetCapturedStdout();
        for (std::string const& command : runner.commands)
        {
            if (!MountPointOf(command).empty())
                mountPoint = MountPointOf(command);
        }
        return result;
    }

    std::vector<std::string> Commands(std::initializer_list<std::string> steps) const
    {
        std::vector<std::string> texts;
        for (std::string step : steps)
        {
            if (step == "rm image")
                texts.push_back("rm \"/out/Disk.dmg\"");
            else if (step == "rm sparse")
                texts.push_back("rm \"/out/Disk.dmg.sparseimage\"");
            else if (step == "create")
                texts.push_back("hdiutil create -type SPARSE -fs HFS+ -volname \"Kiln Vol\" -size 20m "
                                "\"/out/Disk.dmg.sparseimage\"");
            else if (step == "attach")
                texts.push_back(
                    "hdiutil attach \"/out/Disk.dmg.sparseimage\" -noverify -noautoopen -mountpoint \"" +
                    mountPoint + "\"");
            else if (step == "bless")
                texts.push_back("bless --openfolder \"" + mountPoint + "/Apps\"");
            else if (step == "detach")
                texts.push_back("hdiutil detach \"" + mountPoint + "\"");
            else if (step == "detach force")
                texts.push_back("hdiutil detach \"" + mountPoint + "\" -force");
            else if (step == "convert")
                texts.push_back("hdiutil convert \"/out/Disk.dmg.sparseimage\" -format UDZO -imagekey "
                                "zlib-level=9 -o \"/out/Disk.dmg\"");
            else
                texts.push_back(step);
        }
        return texts;
    }

    CTempFolder temporary;
    bool hadTemporary = false;
    std::string previousTemporary;
    CFakeRunner runner;
    std::string output;
    std::string errors;
    std::string mountPoint;
};
} // namespace

TEST_F(ImagePipeline, EverythingSucceeds)
{
    EXPECT_TRUE(Run());
    EXPECT_EQ(errors, "");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach", "bless", "detach",
                                         "convert", "rm sparse"}));
    std::string echo;
    for (std::string const& command : runner.commands)
        echo += "Running Command: " + command + "\n";
    EXPECT_EQ(output, echo);
    std::string prefix = temporary.path + "/mnt.";
    ASSERT_EQ(mountPoint.size(), prefix.size() + 8);
    EXPECT_EQ(mountPoint.substr(0, prefix.size()), prefix);
    for (char c : mountPoint.substr(prefix.size()))
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << mountPoint;
    // The mount point is cleaned up after the volume is gone.
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path));
}

TEST_F(ImagePipeline, MountPointIsAFreshEmptyFolderAtAttach)
{
    bool emptyFolder = false;
    runner.onCommand = [&](std::string const& text)
    {
        std::string folder = MountPointOf(text);
        if (!folder.empty())
            emptyFolder = std::filesystem::is_directory(folder) && std::filesystem::is_empty(folder);
    };
    EXPECT_TRUE(Run());
    EXPECT_TRUE(emptyFolder);
}

TEST_F(ImagePipeline, EmptyOpenFolderSkipsBless)
{
    EXPECT_TRUE(Run("<image/>", ""));
    EXPECT_EQ(runner.commands,
              Commands({"rm image", "rm sparse", "create", "attach", "detach", "convert", "rm sparse"}));
}

TEST_F(ImagePipeline, StaleFileRemovalFailuresAreIgnored)
{
    runner.FailWhen("rm \"/out/Disk.dmg\"");
    runner.FailWhen("rm \"/out/Disk.dmg.sparseimage\"");
    EXPECT_FALSE(Run());
    // Only the final removal counts.
    EXPECT_EQ(errors, "Error:  Unable to remove sparse image.\n");
    EXPECT_EQ(runner.commands.size(), 8u);
}

TEST_F(ImagePipeline, CreateFailureEndsAtOnce)
{
    runner.FailWhen("hdiutil create");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error: Unable to create temporary sparse disk image '/out/Disk.dmg.sparseimage'.\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create"}));
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path));
}

TEST_F(ImagePipeline, AttachFailureNamesTheVolumeAndRemovesTheSparseImage)
{
    runner.FailWhen("hdiutil attach");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error: Unable to mount disk image \"Kiln Vol\".\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach", "rm sparse"}));
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path));
}

TEST_F(ImagePipeline, WalkFailureSkipsBlessAndConvert)
{
    EXPECT_FALSE(Run("<image><file name='x'/></image>"));
    EXPECT_EQ(errors, "Error: 'file' tag required attribute 'source' missing.\n");
    EXPECT_EQ(runner.commands,
              Commands({"rm image", "rm sparse", "create", "attach", "detach", "rm sparse"}));
}

TEST_F(ImagePipeline, BlessFailure)
{
    runner.FailWhen("bless");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error: Unable to set '" + mountPoint + "/Apps' as the mount folder.\n");
    EXPECT_EQ(runner.commands,
              Commands({"rm image", "rm sparse", "create", "attach", "bless", "detach", "rm sparse"}));
}

TEST_F(ImagePipeline, DetachFailureForcesDetachAndSkipsConvert)
{
    runner.FailWhen("hdiutil detach");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error: Unable to detach disk image.\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach", "bless", "detach",
                                         "detach force", "rm sparse"}));
}

TEST_F(ImagePipeline, ConvertFailure)
{
    runner.FailWhen("hdiutil convert");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error: Error converting disk image to read only.\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach", "bless", "detach",
                                         "convert", "rm sparse"}));
}

TEST_F(ImagePipeline, FinalRemovalFailureFailsTheImage)
{
    runner.FailWhen("rm \"/out/Disk.dmg.sparseimage\"");
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors, "Error:  Unable to remove sparse image.\n");
    EXPECT_EQ(runner.commands.back(), Commands({"rm sparse"}).front());
    EXPECT_EQ(runner.commands.size(), 8u);
}

TEST_F(ImagePipeline, SizeIsWrittenUnchanged)
{
    CConfigSnippet snippet("<image/>");
    testing::internal::CaptureStdout();
    ProcessImage(snippet.Root(), "o.dmg", "V", "", 0);
    ProcessImage(snippet.Root(), "o.dmg", "V", "", -5);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(runner.commands[2],
              "hdiutil create -type SPARSE -fs HFS+ -volname \"V\" -size 0m \"o.dmg.sparseimage\"");
    EXPECT_EQ(runner.commands[9],
              "hdiutil create -type SPARSE -fs HFS+ -volname \"V\" -size -5m \"o.dmg.sparseimage\"");
}

TEST_F(ImagePipeline, ValuesAreQuotedForTheShell)
{
    CConfigSnippet snippet("<image/>");
    testing::internal::CaptureStdout();
    ProcessImage(snippet.Root(), "a\"$b`c\\.dmg", "Vol $HOME \"x\"", "", 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(runner.commands[0], "rm \"a\\\"\\$b\\`c\\\\.dmg\"");
    EXPECT_EQ(runner.commands[2],
              "hdiutil create -type SPARSE -fs HFS+ -volname \"Vol \\$HOME \\\"x\\\"\" -size 1m "
              "\"a\\\"\\$b\\`c\\\\.dmg.sparseimage\"");
}

TEST_F(ImagePipeline, OpenFolderOutsideTheVolumeIsRefusedBeforeAnyCommand)
{
    for (char const* value : {"../Elsewhere", "/Applications", "Apps/../.."})
    {
        EXPECT_FALSE(Run("<image/>", value));
        EXPECT_EQ(errors, std::string("Error: 'image' tag attribute 'open_folder' value '") + value +
                              "' is not a relative path inside the volume.\n");
    }
    EXPECT_TRUE(runner.commands.empty());
}

TEST_F(ImagePipeline, UnwritableDesktopDatabaseIsAnInternalError)
{
    // A folder where the root's .DS_Store should go makes the database writer throw.
    runner.onCommand = [](std::string const& text)
    {
        if (!MountPointOf(text).empty())
            std::filesystem::create_directory(MountPointOf(text) + "/.DS_Store");
    };
    EXPECT_FALSE(Run("<image><file source='a' name='b' x='1'/></image>"));
    EXPECT_EQ(errors.rfind("Internal Error: '", 0), 0u) << errors;
    EXPECT_EQ(errors.substr(errors.size() - 2), "'\n") << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "attach",
                                         "cp -r \"a\" \"" + mountPoint + "/b\"", "detach", "rm sparse"}));
}

TEST_F(ImagePipeline, NoMountPointRemovesTheSparseImage)
{
    std::string missing = temporary.path + "/missing";
    setenv("TMPDIR", missing.c_str(), 1);
    EXPECT_FALSE(Run());
    EXPECT_EQ(errors,
              "Error: Unable to create a mount point in '" + missing + "' (No such file or directory).\n");
    EXPECT_EQ(runner.commands, Commands({"rm image", "rm sparse", "create", "rm sparse"}));
}
