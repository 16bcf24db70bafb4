#include "support/TempFolder.h"
#include "support/XmlTestSupport.h"

#include "app/ConfigDocument.h"
#include "engine/CommandRunner.h"

#include <gtest/gtest.h>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace
{
// Runs configuration files against a fake command runner: every command succeeds unless its
// text contains failingText, so images "build" without any disk-image tool.
class ConfigWalk : public testing::Test
{
protected:
    void SetUp() override
    {
        SetCommandHandler(
            [this](std::string const& command)
            {
                commands.push_back(command);
                return !failingText.empty() && command.find(failingText) != std::string::npos ? 1 : 0;
            });
    }
    void TearDown() override { SetCommandHandler(nullptr); }

    bool Perform(std::string const& config)
    {
        std::string path = directory.WriteFile("config.xml", config);
        CaptureStdout();
        CaptureStderr();
        bool result = PerformConfigFile(path.c_str());
        errors = GetCapturedStderr();
        output = GetCapturedStdout();
        return result;
    }

    // The create commands run, one per image that got as far as its sparse image.
    std::vector<std::string> GetCreateCommands() const
    {
        std::vector<std::string> creates;
        for (std::string const& command : commands)
        {
            if (command.rfind("hdiutil create ", 0) == 0)
                creates.push_back(command);
        }
        return creates;
    }

    static std::string Create(std::string const& file, std::string const& name, int size = 1024)
    {
        return "hdiutil create -type SPARSE -fs HFS+ -volname \"" + name + "\" -size " +
               std::to_string(size) + "m \"" + file + ".sparseimage\"";
    }

    CTempFolder directory;
    std::vector<std::string> commands;
    std::string failingText;
    std::string output;
    std::string errors;
};
} // namespace

TEST_F(ConfigWalk, BuildsEveryImageInDocumentOrder)
{
    EXPECT_TRUE(Perform("<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
                        "  <image file='one.dmg' name='One'/>\n"
                        "  <image file='two.dmg' name='Two' template_size='20'></image>\n"
                        "</kilnpack>\n"));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(GetCreateCommands(),
              (std::vector<std::string>{Create("one.dmg", "One"), Create("two.dmg", "Two", 20)}));
    EXPECT_EQ(output.find("Running Command: rm \"one.dmg\"\n"), 0u);
}

TEST_F(ConfigWalk, VersionIsOptionalButOnlyZeroPointOneIsAccepted)
{
    EXPECT_TRUE(Perform("<kilnpack><image file='a.dmg' name='A'/></kilnpack>"));
    EXPECT_EQ(errors, "");
    commands.clear();
    for (char const* version : {"0.10", "1.0", "0.1 ", "", " 0.1", "\xc3\xa9"})
    {
        EXPECT_FALSE(Perform(std::string("<kilnpack version='") + version +
                             "'><image file='a.dmg' name='A'/></kilnpack>"));
        EXPECT_EQ(errors,
                  std::string("Warning: incompatiable kilnpack version '") + version + "' skipped.\n");
    }
    EXPECT_TRUE(commands.empty());
}

TEST_F(ConfigWalk, RootOtherThanKilnpackIsNamedAndNothingBuilt)
{
    EXPECT_FALSE(Perform("<Kilnpack><image file='a.dmg' name='A'/></Kilnpack>"));
    EXPECT_EQ(errors, "Warning: Unknown tag 'Kilnpack' read while expected 'kilnpack'.\n");
    EXPECT_FALSE(Perform("<!-- only a comment before --><config/>"));
    EXPECT_EQ(errors, "Warning: Unknown tag 'config' read while expected 'kilnpack'.\n");
    EXPECT_TRUE(commands.empty());
}

TEST_F(ConfigWalk, ChildrenOtherThanImagesAreWarnedAboutAndSkipped)
{
    EXPECT_TRUE(Perform("<kilnpack>\n"
                        "  <folder name='x'/>\n"
                        "  stray words\n"
                        "  <image file='a.dmg' name='A'/>\n"
                        "  <Image file='b.dmg' name='B'/>\n"
                        "</kilnpack>"));
    EXPECT_EQ(errors, "Warning: Unknown tag 'folder' read while expected 'image'.\n"
                      "Warning: Unknown tag '\n  stray words\n  ' read while expected 'image'.\n"
                      "Warning: Unknown tag 'Image' read while expected 'image'.\n");
    EXPECT_EQ(GetCreateCommands(), std::vector<std::string>{Create("a.dmg", "A")});
}

TEST_F(ConfigWalk, MissingRequiredAttributesSkipOnlyThatImage)
{
    EXPECT_FALSE(Perform("<kilnpack>\n"
                        "  <image file='a.dmg'/>\n"
                        "  <image name='B'/>\n"
                        "  <image/>\n"
                        "  <image file='d.dmg' Name='D'/>\n"
                        "  <image file='e.dmg' name='E'/>\n"
                        "</kilnpack>"));
    EXPECT_EQ(errors, "Error: 'image' tag required attribute 'name' missing.\n"
                      "Error: 'image' tag required attribute 'file' missing.\n"
                      "Error: 'image' tag required attribute 'file' missing.\n"
                      "Warning: 'image' tag has unknown attribute 'Name' (value 'D'). Skipping.\n"
                      "Error: 'image' tag required attribute 'name' missing.\n");
    EXPECT_EQ(GetCreateCommands(), std::vector<std::string>{Create("e.dmg", "E")});
}

TEST_F(ConfigWalk, EmptyFileIsRefusedBeforeAnyCommandAndUtf8IsText)
{
    EXPECT_FALSE(
        Perform("<kilnpack><image file='' name=''/><image file='x.dmg' name='Caf\xc3\xa9'/></kilnpack>"));
    EXPECT_EQ(errors, "Error: 'image' tag attribute 'file' is empty.\n");
    EXPECT_EQ(GetCreateCommands(), std::vector<std::string>{Create("x.dmg", "Caf\xc3\xa9")});
    EXPECT_TRUE(Perform("<kilnpack><image file='y.dmg' name=''/></kilnpack>"));
    EXPECT_EQ(GetCreateCommands(), (std::vector<std::string>{Create("x.dmg", "Caf\xc3\xa9"), Create("y.dmg", "")}));
}

TEST_F(ConfigWalk, TemplateSizeDefaultsToGigabyteAndIsPassedOnUnchecked)
{
    EXPECT_TRUE(Perform("<kilnpack>"
                        "<image file='a.dmg' name='A' template_size='big'/>"
                        "<image file='b.dmg' name='B' template_size='0'/>"
                        "<image file='c.dmg' name='C' template_size='-5'/>"
                        "<image file='d.dmg' name='D' template_size='64MB'/>"
                        "</kilnpack>"));
    EXPECT_EQ(errors, "Warning: Attribute 'template_size' has unknown integer value 'big'. Skipping.\n");
    EXPECT_EQ(GetCreateCommands(),
              (std::vector<std::string>{Create("a.dmg", "A"), Create("b.dmg", "B", 0),
                                        Create("c.dmg", "C", -5), Create("d.dmg", "D", 64)}));
}

TEST_F(ConfigWalk, OpenFolderIsBlessedOnlyWhenGiven)
{
    EXPECT_TRUE(Perform("<kilnpack><image file='a.dmg' name='A' open_folder=''/></kilnpack>"));
    for (std::string const& command : commands)
        EXPECT_EQ(command.find("bless"), std::string::npos) << command;
    commands.clear();
    EXPECT_TRUE(Perform("<kilnpack><image file='a.dmg' name='A' open_folder='Apps'/></kilnpack>"));
    int blessed = 0;
    for (std::string const& command : commands)
        blessed +=
            command.rfind("bless --openfolder \"", 0) == 0 && command.find("/Apps\"") != std::string::npos;
    EXPECT_EQ(blessed, 1);
}

TEST_F(ConfigWalk, FileSucceedsOnlyWhenEveryImageIsBuilt)
{
    std::string config =
        "<kilnpack><image file='bad.dmg' name='Bad'/><image file='good.dmg' name='Good'/></kilnpack>";
    failingText = "create -type SPARSE -fs HFS+ -volname \"Bad\"";
    EXPECT_FALSE(Perform(config));
    EXPECT_EQ(errors, "Error: Unable to create temporary sparse disk image 'bad.dmg.sparseimage'.\n");
    EXPECT_EQ(GetCreateCommands().size(), 2u);

    failingText = "hdiutil create";
    EXPECT_FALSE(Perform(config));
    EXPECT_EQ(errors, "Error: Unable to create temporary sparse disk image 'bad.dmg.sparseimage'.\n"
                      "Error: Unable to create temporary sparse disk image 'good.dmg.sparseimage'.\n");
    EXPECT_FALSE(Perform("<kilnpack/>"));
    EXPECT_EQ(errors, "");
}

TEST_F(ConfigWalk, UnreadableOrMalformedFilesFail)
{
    std::string missing = directory.Join("missing.xml");
    CaptureStderr();
    EXPECT_FALSE(PerformConfigFile(missing.c_str()));
    EXPECT_EQ(GetCapturedStderr(), "Error: Unable to access file '" + missing + "'.\n");
    EXPECT_FALSE(Perform("<kilnpack><image file='a.dmg' name='A'></kilnpack>"));
    EXPECT_EQ(errors,
              "Error: XML Error (line: 1) 'Opening and ending tag mismatch: image line 1 and kilnpack'.\n");
    EXPECT_TRUE(commands.empty());
}

TEST(PerformRoot, NeedsADocumentNodeAndLevelsNeedNodes)
{
    auto tree = ParseText("<kilnpack><image file='a.dmg' name='A'/></kilnpack>");
    CaptureStderr();
    EXPECT_FALSE(PerformRoot(nullptr));
    EXPECT_FALSE(PerformRoot(tree->children.at(0).get()));
    EXPECT_EQ(GetCapturedStderr(), "");
    // A missing node is no element either.
    CaptureStderr();
    EXPECT_FALSE(PerformKilnPack(nullptr));
    EXPECT_FALSE(PerformImage(nullptr));
    EXPECT_EQ(GetCapturedStderr(), "Warning: Unknown tag '' read while expected 'kilnpack'.\n"
                                   "Warning: Unknown tag '' read while expected 'image'.\n");
}
