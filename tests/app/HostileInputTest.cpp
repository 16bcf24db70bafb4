// Nothing kilnpack writes goes through a link the configuration made, and the volume keeps its
// sources' modes whatever the umask: whole runs, with victim files on the host checked untouched.
#include "RunKilnpack.h"

#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{
namespace fs = std::filesystem;

std::string const kExample = std::string(KILNPACK_SOURCE_DIR) + "/example";
} // namespace

TEST(HostileInput, FilesKilnpackMakesNeverGoThroughALinkOfTheConfiguration)
{
    CTempFolder work;
    CTempFolder victims;
    std::string const victimFile = victims.WriteFile("icon-victim", "keep me");
    fs::create_directories(victims.Join("folder"));
    fs::copy(kExample, work.path, fs::copy_options::recursive);
    // The volume icon onto a link to an outside file.
    work.WriteFile("icon.xml", "<kilnpack><image file='icon.dmg' name='I' template_size='8' icon='Example.icns'>"
                               "<link target='" + victimFile + "' name='.VolumeIcon.icns'/></image></kilnpack>");
    // The retina TIFF into a linked outside folder, beside pictures that are there.
    fs::copy(kExample + "/background.png", victims.Join("folder/background.png"));
    fs::copy(kExample + "/background@2x.png", victims.Join("folder/background@2x.png"));
    work.WriteFile("tiff.xml", "<kilnpack><image file='tiff.dmg' name='T' template_size='8'>"
                               "<link target='" + victims.Join("folder") + "' name='sub'/>"
                               "<view type='icon' background='sub/background.png'/></image></kilnpack>");

    // The retina TIFF onto a link to an outside file, named as the TIFF will be.
    work.WriteFile("named.xml", "<kilnpack><image file='named.dmg' name='N' template_size='8'>"
                                "<file source='background.png' name='b.png'/><file source='background@2x.png' "
                                "name='b@2x.png'/><link target='" + victimFile + "' name='b.tiff'/>"
                                "<view type='icon' background='b.png'/></image></kilnpack>");

    CRunResult named = RunKilnpack({"named.xml"}, work.path);
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.errors.find("Error: The retina background can't be written to '"), std::string::npos)
        << named.errors;
    EXPECT_EQ(ReadWholeFile(victimFile), "keep me");

    CRunResult icon = RunKilnpack({"icon.xml"}, work.path);
    EXPECT_EQ(icon.status, 1);
    EXPECT_NE(icon.errors.find("Error: The volume icon can't be copied to '"), std::string::npos) << icon.errors;
    EXPECT_EQ(icon.output.find("Running Command: cp \"Example.icns\""), std::string::npos) << icon.output;
    EXPECT_EQ(ReadWholeFile(victimFile), "keep me");
    EXPECT_FALSE(fs::exists(work.Join("icon.dmg")));

    CRunResult tiff = RunKilnpack({"tiff.xml"}, work.path);
    EXPECT_EQ(tiff.status, 1);
    EXPECT_NE(tiff.errors.find("Error: Unable to link to image '"), std::string::npos) << tiff.errors;
    EXPECT_EQ(tiff.output.find("tiffutil"), std::string::npos) << tiff.output;
    EXPECT_FALSE(fs::exists(victims.Join("folder/background.tiff")));
    EXPECT_EQ(std::distance(fs::directory_iterator(victims.Join("folder")), fs::directory_iterator()), 2);
}

TEST(HostileInput, ModesComeFromTheSourcesWhateverTheUmask)
{
    CTempFolder work;
    fs::copy(kExample, work.path, fs::copy_options::recursive);
    std::string const tool = work.Join("Example.app/Contents/MacOS/Example");
    ASSERT_EQ(chmod(tool.c_str(), 04755), 0);
    CEnvironmentSetting epoch("SOURCE_DATE_EPOCH", "1700000000");
    std::string digests[2];
    mode_t const masks[2] = {022, 077};
    for (int i = 0; i < 2; ++i)
    {
        fs::remove(work.Join("Example.dmg"));
        mode_t const previous = umask(masks[i]);
        CRunResult run = RunKilnpack({"kilnpack.xml"}, work.path);
        umask(previous);
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(RunCapturing("sha256sum " + QuoteForShell(work.Join("Example.dmg")), &digests[i]), 0);
        digests[i] = digests[i].substr(0, 64);
    }
    EXPECT_EQ(digests[0], digests[1]);
    std::string output;
    std::string const raw = work.Join("raw.img");
    if (RunCapturing("command -v dmg2img && command -v fshfsinfo", &output) != 0)
        GTEST_SKIP() << "dmg2img or fshfsinfo is not installed: the modes on the volume are not read";
    ASSERT_EQ(RunCapturing("dmg2img -s " + QuoteForShell(work.Join("Example.dmg")) + " " + QuoteForShell(raw), &output),
              0)
        << output;
    ASSERT_EQ(RunCapturing("fshfsinfo -o 20480 -F '/Example.app/Contents/MacOS/Example' " + QuoteForShell(raw), &output),
              0)
        << output;
    EXPECT_NE(output.find("(0104755)"), std::string::npos) << output;
}
