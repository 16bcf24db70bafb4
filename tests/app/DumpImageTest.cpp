// "--dump" of whole disk images: an image built by kilnpack lists each desktop database exactly as
// 7-Zip extracts it, then the volume's facts; damaged images give error lines and the run goes on.
#include "RunKilnpack.h"

#include "support/TempFolder.h"
#include "support/ConfigSchema.h"
#include "support/FileBytes.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace
{
// The "--dump" listing of a file, the banner left off.
std::string DumpListing(std::string const& path, std::filesystem::path const& directory)
{
    CRunResult const result = RunKilnpack({"--dump", path}, directory);
    EXPECT_EQ(result.errors, "");
    return result.output.substr(std::string(kBanner).size());
}

int CountLines(std::string const& text, std::string const& start)
{
    int count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        count += line.rfind(start, 0) == 0;
    return count;
}

class DumpImage : public testing::Test
{
protected:
    void SetUp() override
    {
        directory.WriteFile("back.png", std::string("\x89PNG\r\n\x1a\n", 8) + "a picture");
        directory.WriteFile("note.txt", "a note\n");
        directory.WriteFile("dump.xml",
                            "<kilnpack><image file=\"Dump.dmg\" name=\"Dump Test\" open_folder=\"Apps\" "
                            "template_size=\"8\" finder_records=\"both\">"
                            "<file source=\"back.png\" name=\"back.png\" x=\"10\" y=\"20\"/>"
                            "<folder name=\"Apps\" x=\"150\" y=\"60\">"
                            "<file source=\"note.txt\" name=\"Note.txt\" x=\"40\" y=\"50\"/>"
                            "<view type=\"icon\" x=\"60\" y=\"50\" width=\"200\" height=\"250\"/></folder>"
                            "<view type=\"icon\" width=\"400\" height=\"300\" background=\"back.png\"/>"
                            "</image></kilnpack>");
        ExpectValidConfiguration(directory.Join("dump.xml"));
        CRunResult const build = RunKilnpack({"dump.xml"}, directory.path);
        image = directory.Join("Dump.dmg");
        ASSERT_TRUE(std::filesystem::exists(image)) << build.errors;
    }

    // A desktop database of the image as 7-Zip extracts it, and its own "--dump" listing.
    std::string ExtractedListing(std::string const& item)
    {
        std::string const copy = directory.Join("extracted");
        std::string const command = "7zz x -so '" + image + "' 'Dump Test/" + item + "' > '" + copy + "' 2>/dev/null";
        EXPECT_EQ(RunShell(command), 0);
        return DumpListing(copy, directory.path);
    }

    CTempFolder directory;
    std::string image;
};
} // namespace

TEST_F(DumpImage, ListsEveryDatabaseAndTheVolumeFacts)
{
    std::string const expected = "\"/.DS_Store\":\n" + ExtractedListing(".DS_Store") + "\"/Apps/.DS_Store\":\n" +
                                 ExtractedListing("Apps/.DS_Store") +
                                 "Volume name: \"Dump Test\"\n"
                                 "Open folder: \"/Apps\"\n"
                                 "Background picture: \"/back.png\"\n";
    EXPECT_NE(expected.find("\"Note.txt\" 'Iloc'"), std::string::npos);
    EXPECT_EQ(DumpListing(image, directory.path), expected);
}

TEST_F(DumpImage, DamagedImagesGiveErrorLinesAndTheRunGoesOn)
{
    std::string const bytes = ReadWholeFile(image);
    ASSERT_GT(bytes.size(), 8192u);
    std::string const trailer = bytes.substr(bytes.size() - 512);
    std::string const body = bytes.substr(0, bytes.size() - 512);
    std::string const good = DumpListing(image, directory.path);

    // The trailer kept, half of what it points at gone.
    WriteWholeFile(directory.Join("halved.dmg"), body.substr(0, body.size() / 2) + trailer);
    // The first compressed runs overwritten.
    std::string zeroed = bytes;
    std::fill(zeroed.begin(), zeroed.begin() + 4096, '\x55');
    WriteWholeFile(directory.Join("zeroed.dmg"), zeroed);
    // The property list without its block tables.
    std::string renamed = bytes;
    size_t const key = renamed.find("<key>blkx</key>");
    ASSERT_NE(key, std::string::npos);
    renamed[key + 8] = 'q';
    WriteWholeFile(directory.Join("renamed.dmg"), renamed);
    // The trailer cut short: no longer an image, so read as a desktop database.
    WriteWholeFile(directory.Join("cut.dmg"), bytes.substr(0, bytes.size() - 100));

    CRunResult const result =
        RunKilnpack({"--dump", "halved.dmg", "zeroed.dmg", "renamed.dmg", "cut.dmg", "Dump.dmg"}, directory.path);
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
    EXPECT_EQ(result.output, kBanner + good);
    EXPECT_EQ(CountLines(result.errors, "Error: Unable to read the disk image '"), 3) << result.errors;
    EXPECT_EQ(CountLines(result.errors, "Internal Error: '"), 1) << result.errors;
    EXPECT_EQ(result.errors.find("Sanitizer"), std::string::npos) << result.errors;
}
