// Builds a real disk image with the kilnpack program and reads it back with 7-Zip: the files,
// folders and links are there and every desktop database holds exactly the expected records.
#include "support/ImageTestSupport.h"
#include "support/ConfigSchema.h"
#include "support/FsckHfs.h"

#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace
{
// Expected "--dump" listings; the background alias records are checked apart, since the alias
// bytes are the alias manager's own.
std::string const kRootDump =
    "\".\" 'ICVO' : true\n"
    "\".\" 'QRVL' : (long)1 (0x00000001)\n"
    "\".\" 'fwi0' : (blob 16 bytes)\n"
    "        0000: 00 c8 00 64 01 f4 01 f4  69 63 6e 76 00 01 00 00 '...d....icnv....'\n"
    "\".\" 'fwsw' : (short)150 (0x0096)\n"
    "\".\" 'icgo' : (blob 8 bytes)\n"
    "        0000: 00 00 00 00 00 00 00 04                          '........'\n"
    "\".\" 'icsp' : (blob 8 bytes)\n"
    "        0000: 00 00 00 00 00 00 00 00                          '........'\n"
    "\".\" 'icvo' : (blob 26 bytes)\n"
    "        0000: 69 63 76 34 00 40 67 72  69 64 72 67 68 74 00 00 'icv4.@gridrght..'\n"
    "        0010: 00 00 00 00 00 00 00 04  00 00                   '..........'\n"
    "\".\" 'icvt' : (short)12 (0x000c)\n"
    "\"Applications\" 'Iloc' : (blob 16 bytes)\n"
    "        0000: 00 00 01 2c 00 00 00 14  ff ff ff ff ff ff 00 00 '...,............'\n"
    "\"Apps\" 'ICVO' : true\n"
    "\"Apps\" 'Iloc' : (blob 16 bytes)\n"
    "        0000: 00 00 00 96 00 00 00 3c  ff ff ff ff ff ff 00 00 '.......<........'\n"
    "\"Apps\" 'fwi0' : (blob 16 bytes)\n"
    "        0000: 00 3c 00 32 01 04 01 5e  69 63 6e 76 00 00 00 00 '.<.2...^icnv....'\n"
    "\"Apps\" 'icgo' : (blob 8 bytes)\n"
    "        0000: 00 00 00 00 00 00 00 04                          '........'\n"
    "\"Apps\" 'icsp' : (blob 8 bytes)\n"
    "        0000: 00 00 00 00 00 00 00 00                          '........'\n"
    "\"Apps\" 'icvo' : (blob 26 bytes)\n"
    "        0000: 69 63 76 34 00 20 6e 6f  6e 65 62 6f 74 6d 00 00 'icv4. nonebotm..'\n"
    "        0010: 00 00 00 00 00 00 00 04  00 00                   '..........'\n"
    "\"back.png\" 'Iloc' : (blob 16 bytes)\n"
    "        0000: 00 00 00 0a 00 00 00 14  ff ff ff ff ff ff 00 00 '................'\n";
std::string const kAppsDump =
    "\".\" 'QRVL' : (long)1 (0x00000001)\n"
    "\"Read Me.txt\" 'Iloc' : (blob 16 bytes)\n"
    "        0000: 00 00 00 28 00 00 00 32  ff ff ff ff ff ff 00 00 '...(...2........'\n";
std::string const kNestedDump =
    "\".\" 'QRVL' : (long)1 (0x00000001)\n"
    "\"Back Link\" 'Iloc' : (blob 16 bytes)\n"
    "        0000: 00 00 00 05 00 00 00 06  ff ff ff ff ff ff 00 00 '................'\n";

// The "--dump" listing of one file, without the two banner lines and without the records of
// the background alias.
std::string DumpWithoutAlias(std::string const& storePath, std::string const& scratch)
{
    std::string listing = scratch + "/dump.txt";
    EXPECT_EQ(RunShell(std::string(KILNPACK_BINARY) + " --dump " + QuoteArgument(storePath) + " > " +
                       QuoteArgument(listing) + " 2>&1"),
              0);
    std::istringstream lines(ReadWholeFile(listing));
    std::string line, kept;
    bool skipping = false;
    for (int number = 0; std::getline(lines, line); ++number)
    {
        if (number < 2)
            continue;
        if (line.compare(0, 8, "        ") != 0)
            skipping = line.rfind("\".\" 'pict'", 0) == 0 || line.rfind("\".\" 'BKGD'", 0) == 0;
        if (!skipping)
            kept += line + "\n";
    }
    return kept;
}

// The content of one item of the image as 7-Zip reads it; for a symbolic link, its target text.
std::string ReadFromImage(std::string const& image, std::string const& item, std::string const& scratch)
{
    std::string copy = scratch + "/item";
    RunShell("7zz x -so " + QuoteArgument(image) + " " + QuoteArgument(item) + " > " + QuoteArgument(copy) +
             " 2> /dev/null");
    return ReadWholeFile(copy);
}
} // namespace

TEST(EndToEnd, BuildsImageWithFoldersViewsAndBackground)
{
    CTempFolder work;
    std::string sources = work.path + "/src";
    std::string temporary = work.path + "/tmp";
    std::filesystem::create_directories(sources);
    std::filesystem::create_directories(temporary);
    std::string picture = std::string("\x89PNG\r\n\x1a\n", 8) + "not really a picture";
    std::ofstream(sources + "/back.png", std::ios::binary) << picture;
    std::ofstream(sources + "/Read Me.txt") << "Read me first.\n";

    std::string image = work.path + "/Out.dmg";
    std::ofstream(work.path + "/config.xml")
        << "<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
        << "<image file='" << image << "' name='Kiln Test' open_folder='Apps' template_size='16'>\n"
        << "  <file source='src/back.png' name='back.png' x='10' y='20'/>\n"
        << "  <view type='icon' x='100' y='200' width='400' height='300' show_toolbar='true' grid='true'\n"
        << "        icon_size='64' text_position='right' toolbar_width='150' font_size='12' "
           "background='back.png'/>\n"
        << "  <folder name='Apps' x='150' y='60'>\n"
        << "    <view type='icon' x='50' y='60' width='300' height='200' icon_size='32'/>\n"
        << "    <file source='src/Read Me.txt' name='Read Me.txt' x='40' y='50'/>\n"
        << "    <folder name='Nested'>\n"
        << "      <link target='../Read Me.txt' name='Back Link' x='5' y='6'/>\n"
        << "    </folder>\n"
        << "  </folder>\n"
        << "  <link target='/Applications' name='Applications' x='300' y='20'/>\n"
        << "</image>\n</kilnpack>\n";
    ExpectValidConfiguration(work.path + "/config.xml");

    ASSERT_EQ(RunShell("cd " + QuoteArgument(work.path) + " && TMPDIR=" + QuoteArgument(temporary) + " " +
                       KILNPACK_BINARY + " config.xml > build.out 2> build.err"),
              0);
    std::string output = ReadWholeFile(work.path + "/build.out");
    std::string errors = ReadWholeFile(work.path + "/build.err");
    // The tools may complain on their own (the first removals find nothing); kilnpack must not.
    for (std::string prefix : {"Error", "Warning", "Internal Error"})
    {
        EXPECT_NE(errors.rfind(prefix, 0), 0u) << errors;
        EXPECT_EQ(errors.find("\n" + prefix), std::string::npos) << errors;
    }
    EXPECT_NE(output.find("Running Command: hdiutil convert \"" + image +
                          ".sparseimage\" -format UDZO -imagekey zlib-level=9 -o \"" + image + "\"\n"),
              std::string::npos)
        << output;
    ASSERT_TRUE(std::filesystem::is_regular_file(image)) << output << errors;
    EXPECT_FALSE(std::filesystem::exists(image + ".sparseimage"));
    EXPECT_TRUE(std::filesystem::is_empty(temporary)); // no mount point left behind
    ExpectDmgVolumeSound(image);

    // -snld: the relative link inside the volume points upwards, which 7-Zip would otherwise skip.
    std::string extracted = work.path + "/x";
    ASSERT_EQ(RunShell("7zz x -snld -y -o" + QuoteArgument(extracted) + " " + QuoteArgument(image) + " > " +
                       QuoteArgument(work.path + "/7z.log") + " 2>&1"),
              0)
        << ReadWholeFile(work.path + "/7z.log");
    std::string root = extracted + "/Kiln Test";
    ASSERT_TRUE(std::filesystem::is_directory(root + "/Apps/Nested")) << ReadWholeFile(work.path + "/7z.log");

    EXPECT_EQ(ReadWholeFile(root + "/back.png"), picture);
    EXPECT_EQ(ReadWholeFile(root + "/Apps/Read Me.txt"), "Read me first.\n");
    EXPECT_EQ(ReadFromImage(image, "Kiln Test/Applications", work.path), "/Applications");
    EXPECT_EQ(ReadFromImage(image, "Kiln Test/Apps/Nested/Back Link", work.path), "../Read Me.txt");
    EXPECT_TRUE(std::filesystem::is_symlink(root + "/Apps/Nested/Back Link"));

    EXPECT_EQ(DumpWithoutAlias(root + "/.DS_Store", work.path), kRootDump);
    EXPECT_EQ(DumpWithoutAlias(root + "/Apps/.DS_Store", work.path), kAppsDump);
    EXPECT_EQ(DumpWithoutAlias(root + "/Apps/Nested/.DS_Store", work.path), kNestedDump);

    // The background descriptor gives the length of the alias record beside it.
    CDesktopDatabase database;
    database.ReadFromDisk((root + "/.DS_Store").c_str());
    std::vector<unsigned char> alias = BlobOf(database, ".", MakeFourCharCode("pict"));
    unsigned int size = static_cast<unsigned int>(alias.size());
    EXPECT_GT(size, 0u);
    EXPECT_EQ(
        BlobOf(database, ".", MakeFourCharCode("BKGD")),
        Concat({Text("PctB"),
                Bytes({int(size >> 24), int((size >> 16) & 0xFF), int((size >> 8) & 0xFF), int(size & 0xFF)}),
                Bytes({0, 0, 0, 0xB4})}));
}
