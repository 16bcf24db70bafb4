// Whole runs kept byte for byte: the transcript (standard output, standard error, exit status) of
// six configurations, and SHA-256 digests of the images they build and of the images' .DS_Store
// files (taken out with 7-Zip). The expected texts are under tests/data/golden; a run with
// KILNPACK_UPDATE_GOLDEN=1 writes them instead of comparing.
#include "RunKilnpack.h"

#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sys/stat.h>

namespace
{
namespace fs = std::filesystem;

std::string const kGoldenFolder = std::string(KILNPACK_SOURCE_DIR) + "/tests/data/golden/";

// The example's sources plus a licence text, in a fresh folder; the configurations below.
void LayOutSources(CTempFolder const& folder)
{
    fs::copy(std::string(KILNPACK_SOURCE_DIR) + "/example", folder.path, fs::copy_options::recursive);
    folder.WriteFile("License.txt", "Use it well.\n");
    folder.WriteFile("rich.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="Rich.dmg" name="Rich" template_size="8" format="UDBZ" open_folder="Docs">
        <license><text language="en_US" file="License.txt"/></license>
        <folder name="Docs" x="100" y="110">
            <folder name="Inner" x="5" y="6">
                <view type="icon" icon_size="48" text_position="right"/>
            </folder>
            <file source="ReadMe.txt" name="a.txt" x="10" y="20" hidden="true"/>
            <view type="icon" width="300" height="200" icon_size="64" background_color="#336699"/>
        </folder>
        <link target="Docs/a.txt" name="b" hide_extension="true"/>
    </image>
</kilnpack>
)");
    // Sized to their content (as resize -sectors min leaves them), on both file systems.
    for (char const* system : {"HFS+", "APFS"})
    {
        std::string const stem = std::string(system) == "APFS" ? "apfs" : "shrunk";
        folder.WriteFile(stem + ".xml", "<kilnpack>\n    <image file=\"" + stem + ".dmg\" name=\"Auto\" filesystem=\"" +
                                            system + R"(" template_size="auto" format="ULMO">
        <folder name=".background"><file source="background.png" name="background.png"/></folder>
        <file source="Example.app" name="Example.app" x="100" y="120"/>
        <link target="/Applications" name="Applications" x="300" y="120"/>
        <view type="icon" width="400" height="300" background=".background/background.png"/>
    </image>
</kilnpack>
)");
    }
    // Items no volume can hold, deep in copied folders: a FIFO, and two names the volume takes for one.
    folder.WriteFile("special/fifo/a.txt", "a\n");
    mkfifo(folder.Join("special/fifo/pipe").c_str(), 0644);
    folder.WriteFile("special/case/Name.txt", "upper\n");
    folder.WriteFile("special/case/name.txt", "lower\n");
    folder.WriteFile("special.xml", R"(<kilnpack>
    <image file="Fifo.dmg" name="Fifo" template_size="8"><file source="special/fifo" name="F" hidden="1"/></image>
    <image file="Case.dmg" name="Case" template_size="8"><file source="special/case" name="C"/></image>
</kilnpack>
)");
    folder.WriteFile("broken.xml", R"(<kilnpack>
    <image file="Broken.dmg" name="Broken" template_size="8" colour="red">
        <file source="missing.txt" name="m.txt"/>
        <file source="ReadMe.txt" name="r.txt" sise="1"/>
        <link target="/x" name="R.TXT"/>
    </image>
</kilnpack>
)");
}

// The mount point's random name, the one thing that differs from run to run.
std::string HideMountPoint(std::string text, std::string const& temporaryFolder)
{
    std::regex const mount(temporaryFolder + "/mnt\\.[A-Za-z0-9]{8}");
    return std::regex_replace(text, mount, "MOUNT");
}

std::string Sha256(std::string const& path)
{
    std::string output;
    if (RunCapturing("sha256sum " + QuoteForShell(path), &output) != 0)
        return "(unreadable: " + output + ")";
    return output.substr(0, 64);
}

// "<digest>  <path>" for each .DS_Store inside the image, in path order.
std::string DescribeStores(std::string const& image, CTempFolder const& scratch)
{
    std::string description;
    std::string const out = scratch.Join("extracted-" + fs::path(image).stem().string());
    std::string log;
    EXPECT_EQ(RunCapturing("7zz x -y -o" + QuoteForShell(out) + " " + QuoteForShell(image) + " '*.DS_Store' -r", &log),
              0)
        << log;
    std::vector<std::string> stores;
    for (fs::directory_entry const& entry : fs::recursive_directory_iterator(out))
    {
        if (entry.path().filename() == ".DS_Store")
            stores.push_back(fs::relative(entry.path(), out).string());
    }
    std::sort(stores.begin(), stores.end());
    for (std::string const& store : stores)
        description += Sha256(out + "/" + store) + "  " + store + "\n";
    return description;
}

void ExpectGolden(std::string const& name, std::string const& actual)
{
    std::string const path = kGoldenFolder + name;
    char const* update = std::getenv("KILNPACK_UPDATE_GOLDEN");
    if (update && std::string(update) == "1")
    {
        WriteWholeFile(path, actual);
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(ReadWholeFile(path), actual) << name;
}

struct CGoldenRun
{
    char const* config;
    char const* image; // empty when the run builds none
};

class GoldenRun : public ::testing::TestWithParam<CGoldenRun>
{
};
} // namespace

TEST_P(GoldenRun, TranscriptAndImageBytesStayTheSame)
{
    CGoldenRun const run = GetParam();
    CTempFolder sources;
    CTempFolder temporary;
    LayOutSources(sources);
    CEnvironmentSetting epoch("SOURCE_DATE_EPOCH", "1700000000");
    CEnvironmentSetting zone("TZ", "UTC");
    CEnvironmentSetting locale("LC_ALL", "C");
    CEnvironmentSetting engine("KILNPACK_ENGINE", nullptr);
    CEnvironmentSetting tmpdir("TMPDIR", temporary.path.c_str());
    mode_t const previousMask = umask(022);
    CRunResult const result = RunKilnpack({run.config}, sources.path);
    umask(previousMask);

    std::string const stem = fs::path(run.config).stem().string();
    ExpectGolden(stem + ".transcript",
                 "status " + std::to_string(result.status) + "\n--- stdout\n" +
                     HideMountPoint(result.output, temporary.path) + "--- stderr\n" +
                     HideMountPoint(result.errors, temporary.path));
    // Nothing is left beside the output or in the temporary folder.
    for (fs::directory_entry const& entry : fs::directory_iterator(temporary.path))
        ADD_FAILURE() << "left behind: " << entry.path();
    for (fs::directory_entry const& entry : fs::directory_iterator(sources.path))
    {
        std::string const name = entry.path().filename().string();
        EXPECT_EQ(name.find(".lock"), std::string::npos) << name;
        EXPECT_EQ(name.find(".sparseimage"), std::string::npos) << name;
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
    }
    if (*run.image == '\0')
    {
        for (char const* image : {"Broken.dmg", "Fifo.dmg", "Case.dmg"})
            EXPECT_FALSE(fs::exists(sources.Join(image))) << image;
        return;
    }
    std::string const image = sources.Join(run.image);
    ExpectGolden(stem + ".dmg.sha256", Sha256(image) + "  " + run.image + "\n");
    std::string ignored;
    if (RunCapturing("command -v 7zz", &ignored) != 0)
        GTEST_SKIP() << "7zz is not installed: the .DS_Store digests are not checked";
    CTempFolder scratch;
    ExpectGolden(stem + ".stores.sha256", DescribeStores(image, scratch));
}

INSTANTIATE_TEST_SUITE_P(Configurations, GoldenRun,
                         ::testing::Values(CGoldenRun{"kilnpack.xml", "Example.dmg"},
                                           CGoldenRun{"rich.xml", "Rich.dmg"},
                                           CGoldenRun{"shrunk.xml", "shrunk.dmg"},
                                           CGoldenRun{"apfs.xml", "apfs.dmg"},
                                           CGoldenRun{"broken.xml", ""}, CGoldenRun{"special.xml", ""}),
                         [](::testing::TestParamInfo<CGoldenRun> const& info)
                         { return fs::path(info.param.config).stem().string(); });
