#include "RunKilnpack.h"

#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{
// Runs kilnpack on configuration files written to a scratch directory; the banner is checked
// here once so that tests compare only what follows it. Every case here has something that can't
// be built, so the run fails unless a test says otherwise.
class ConfigFile : public testing::Test
{
protected:
    CRunResult Run(std::vector<std::string> const& arguments, int expectedStatus = 1)
    {
        CRunResult result = RunKilnpack(arguments, directory.path);
        EXPECT_EQ(result.output.rfind(kBanner, 0), 0u) << result.output;
        EXPECT_EQ(result.status, expectedStatus);
        result.output.erase(0, std::string(kBanner).size());
        return result;
    }

    // Runs one configuration and gives its standard error; nothing is to reach standard output.
    std::string RunConfig(std::string const& config)
    {
        directory.WriteFile("config.xml", config);
        CRunResult result = Run({"config.xml"});
        EXPECT_EQ(result.output, "");
        return result.errors;
    }

    CTempFolder directory;
};
} // namespace

TEST_F(ConfigFile, UnreadablePathsAreReportedAndTheRunGoesOn)
{
    ASSERT_EQ(mkdir(directory.Join("folder.xml").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(directory.Join("fifo.xml").c_str(), 0600), 0);
    CRunResult result = Run({"missing.xml", "folder.xml", "fifo.xml", "--version"});
    EXPECT_EQ(result.output, "Version: 0.1\n");
    EXPECT_EQ(result.errors, "Error: Unable to access file 'missing.xml'.\n"
                             "Error: Unable to access file 'folder.xml'.\n"
                             "Error: Unable to access file 'fifo.xml'.\n");
}

TEST_F(ConfigFile, EmptyAndMalformedFilesGetTheParserMessage)
{
    EXPECT_EQ(RunConfig(""), "Error: XML Error (line: 1) 'Document is empty'.\n");
    EXPECT_EQ(RunConfig("<kilnpack>\n  <image file='a.dmg' name='A'>\n</kilnpack>\n"),
              "Error: XML Error (line: 3) 'Opening and ending tag mismatch: image line 2 and kilnpack'.\n");
    EXPECT_EQ(RunConfig("<kilnpack>\n<image file='a.dmg' name='A'/></kilnpack>\n<kilnpack/>"),
              "Error: XML Error (line: 3) 'Extra content at the end of the document'.\n");
}

TEST_F(ConfigFile, FilesAreTakenInCommandLineOrder)
{
    directory.WriteFile("one.xml", "<one/>");
    directory.WriteFile("two.xml", "<kilnpack version='2'/>");
    CRunResult result = Run({"two.xml", "one.xml", "two.xml"});
    EXPECT_EQ(result.errors, "Warning: incompatiable kilnpack version '2' skipped.\n"
                             "Warning: Unknown tag 'one' read while expected 'kilnpack'.\n"
                             "Warning: incompatiable kilnpack version '2' skipped.\n");
}

TEST_F(ConfigFile, DocumentLevelWarnings)
{
    EXPECT_EQ(RunConfig("<KilnPack><image file='a.dmg' name='A'/></KilnPack>"),
              "Warning: Unknown tag 'KilnPack' read while expected 'kilnpack'.\n");
    for (char const* version : {"0.10", "1.0", "0.1 ", ""})
    {
        EXPECT_EQ(
            RunConfig(std::string("<kilnpack version='") + version + "'><image file='a.dmg'/></kilnpack>"),
            std::string("Warning: incompatiable kilnpack version '") + version + "' skipped.\n");
    }
    EXPECT_EQ(RunConfig("<?xml version='1.0'?>\n<!-- nothing to build -->\n<kilnpack>\n</kilnpack>\n"), "");
}

TEST_F(ConfigFile, ImageLevelWarningsAndErrors)
{
    EXPECT_EQ(RunConfig("<kilnpack version='0.1'>\n"
                        "  <images/>\n"
                        "  text &amp; more\n"
                        "  <image name='No File'/>\n"
                        "  <image file='nameless.dmg'/>\n"
                        "  <image/>\n"
                        "  <image file='caf\xc3\xa9.dmg'/>\n"
                        "</kilnpack>\n"),
              "Warning: Unknown tag 'images' read while expected 'image'.\n"
              "Warning: Unknown tag '\n  text & more\n  ' read while expected 'image'.\n"
              "Error: 'image' tag required attribute 'file' missing.\n"
              "Error: 'image' tag required attribute 'name' missing.\n"
              "Error: 'image' tag required attribute 'file' missing.\n"
              "Error: 'image' tag required attribute 'name' missing.\n");
}

TEST_F(ConfigFile, FailingImageDoesNotStopTheNextOne)
{
    // The first image can't be created (its folder does not exist); the second is built.
    std::string bad = directory.Join("none/bad.dmg");
    directory.WriteFile("config.xml", "<kilnpack>\n"
                                      "  <image file='" +
                                          bad +
                                          "' name='Bad' template_size='huge'/>\n"
                                          "  <image file='good.dmg' name='Good' template_size='8'/>\n"
                                          "</kilnpack>\n");
    CRunResult result = Run({"config.xml"});
    std::string badCreate =
        "Running Command: hdiutil create -type SPARSE -fs HFS+ -volname \"Bad\" -size 1024m \"" + bad +
        ".sparseimage\"\n";
    std::string goodConvert =
        "Running Command: hdiutil convert \"good.dmg.sparseimage\" -format UDZO -imagekey "
        "zlib-level=9 -o \"good.dmg\"\n";
    size_t badAt = result.output.find(badCreate);
    EXPECT_NE(badAt, std::string::npos) << result.output;
    EXPECT_NE(result.output.find(goodConvert, badAt), std::string::npos) << result.output;

    std::string warning = "Warning: Attribute 'template_size' has unknown integer value 'huge'. Skipping.\n";
    std::string error = "Error: Unable to create temporary sparse disk image '" + bad + ".sparseimage'.\n";
    size_t warningAt = result.errors.find(warning);
    size_t errorAt = result.errors.find(error);
    EXPECT_NE(warningAt, std::string::npos) << result.errors;
    EXPECT_NE(errorAt, std::string::npos) << result.errors;
    EXPECT_LT(warningAt, errorAt);
    EXPECT_EQ(result.errors.find("Error:", errorAt + error.size()), std::string::npos) << result.errors;

    EXPECT_TRUE(std::filesystem::is_regular_file(directory.Join("good.dmg")));
    EXPECT_FALSE(std::filesystem::exists(directory.Join("good.dmg.sparseimage")));
}

TEST_F(ConfigFile, EntityExpansionIsRefused)
{
    std::string laughs = "<?xml version='1.0'?>\n<!DOCTYPE kilnpack [\n <!ENTITY lol 'lol'>\n";
    std::string previous = "lol";
    for (int level = 1; level <= 9; ++level)
    {
        std::string name = "lol" + std::to_string(level);
        laughs += " <!ENTITY " + name + " '";
        for (int copy = 0; copy < 10; ++copy)
            laughs += "&" + previous + ";";
        laughs += "'>\n";
        previous = name;
    }
    laughs += "]>\n<kilnpack><image file='&lol9;' name='x'/></kilnpack>\n";
    // Refused at the first declaration that would expand too far (lol6, on line 9).
    EXPECT_EQ(RunConfig(laughs),
              "Error: XML Error (line: 9) 'Entities expand to more than 1048576 characters'.\n");
}

TEST_F(ConfigFile, FiftyMegabyteFilesAreHandled)
{
    constexpr size_t kSize = 50u << 20;
    {
        // Mostly blank: read, parsed and found to hold no image.
        std::ofstream out(directory.Join("blank.xml"), std::ios::binary);
        out << "<kilnpack>" << std::string(kSize, ' ') << "</kilnpack>\n";
        // A million images: refused long before memory runs short.
        std::ofstream dense(directory.Join("dense.xml"), std::ios::binary);
        std::string image = "<image file='a.dmg' name='A'/>\n";
        dense << "<kilnpack version='0.1'>\n";
        for (size_t written = 0; written < kSize; written += image.size())
            dense << image;
        dense << "</kilnpack>\n";
    }
    CRunResult result = Run({"blank.xml", "dense.xml"});
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "Error: XML Error (line: 100001) 'Document has more than 100000 elements'.\n");
}
