// The installer's looks end to end: a volume icon, items with hidden extensions or hidden
// altogether, a colour background and a retina background, built by the kilnpack program and read
// back with 7-Zip, dmg2img, fsck_hfs, libtiff, plistutil and the volume reader.
#include "support/ImageTestSupport.h"
#include "support/PlistReading.h"
#include "hfsplus/HfsVolume.h"
#include "pipeline/ImagePipeline.h"
#include "pipeline/ViewSettings.h"
#include "support/ConfigSchema.h"
#include "support/FsckHfs.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <tiffio.h>
#include <unistd.h>

namespace
{
struct CTiffImage
{
    uint32_t width = 0;
    uint32_t height = 0;
    float xResolution = 0;
    float yResolution = 0;
};

// Every directory of a TIFF file, as libtiff reads it (the pixels decoded too).
std::vector<CTiffImage> ReadTiff(std::string const& path)
{
    std::vector<CTiffImage> images;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr)
        return images;
    do
    {
        CTiffImage image;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &image.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &image.height);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &image.xResolution);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &image.yResolution);
        std::vector<uint32_t> raster(size_t(image.width) * image.height);
        EXPECT_EQ(TIFFReadRGBAImage(tiff, image.width, image.height, raster.data(), 0), 1);
        EXPECT_EQ(raster.at(0) & 0xFFFFFF, 0x808080u);
        images.push_back(image);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return images;
}

// The Finder flags of an item of the image's volume, read from the expanded disk's catalog.
uint16_t FinderFlagsOf(std::string const& rawDisk, std::string const& path)
{
    int fd = open(rawDisk.c_str(), O_RDONLY);
    unsigned char entry[128] = {};
    EXPECT_EQ(pread(fd, entry, sizeof entry, 2 * 512), ssize_t(sizeof entry)); // first GPT entry
    uint16_t flags = 0xFFFF;
    std::string error;
    EXPECT_TRUE(ReadHfsFinderFlags(fd, fsck_hfs_detail::ReadLittle64(entry + 32) * 512, path, &flags, &error))
        << error;
    close(fd);
    return flags;
}

bool Holds(std::vector<unsigned char> const& bytes, std::string const& text)
{
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}
} // namespace

TEST(InstallerAppearance, IconFlagsColourAndRetinaBackgroundOnTheBuiltVolume)
{
    CTempFolder work;
    std::string icon = std::string("icns\0\0\0\x08", 8);
    std::ofstream(work.path + "/Disk.icns", std::ios::binary) << icon;
    std::filesystem::create_directories(work.path + "/App.app/Contents");
    std::ofstream(work.path + "/note.txt") << "note\n";
    WritePng(work.path + "/back.png", 40, 30);
    WritePng(work.path + "/back@2x.png", 80, 60);

    std::string image = work.path + "/Out.dmg";
    std::ofstream(work.path + "/config.xml")
        << "<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
        << "<image file='" << image
        << "' name='Looks' template_size='16' finder_records='both' "
           "icon='Disk.icns'>\n"
        << "  <folder name='.background' hidden='yes'>\n"
        << "    <file source='back.png' name='back.png'/>\n"
        << "    <file source='back@2x.png' name='back@2x.png'/>\n"
        << "  </folder>\n"
        << "  <file source='App.app' name='App.app' hide_extension='true'/>\n"
        << "  <file source='note.txt' name='Plain.txt'/>\n"
        << "  <link target='/Applications' name='Gone' hidden='1' hide_extension='1'/>\n"
        << "  <folder name='Coloured'>\n"
        << "    <view type='icon' background_color='#FF8000'/>\n"
        << "  </folder>\n"
        << "  <view type='icon' background='.background/back.png'/>\n"
        << "</image>\n</kilnpack>\n";
    ASSERT_EQ(RunShell("cd " + QuoteArgument(work.path) + " && " + KILNPACK_BINARY +
                       " config.xml > build.out 2> build.err"),
              0);
    std::string output = ReadWholeFile(work.path + "/build.out");
    std::string errors = ReadWholeFile(work.path + "/build.err");
    EXPECT_EQ(errors.find("Error"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Warning"), std::string::npos) << errors;
    EXPECT_NE(output.find("Running Command: tiffutil -cathidpicheck "), std::string::npos) << output;
    ASSERT_TRUE(std::filesystem::is_regular_file(image)) << output << errors;
    ExpectDmgVolumeSound(image);

    std::string raw = work.path + "/disk.raw";
    ASSERT_EQ(RunShell("dmg2img -i " + QuoteArgument(image) + " -o " + QuoteArgument(raw) + " > /dev/null"),
              0);
    EXPECT_EQ(FinderFlagsOf(raw, ""), 0x0400);
    EXPECT_EQ(FinderFlagsOf(raw, ".background"), 0x4000);
    EXPECT_EQ(FinderFlagsOf(raw, "App.app"), 0x0010);
    EXPECT_EQ(FinderFlagsOf(raw, "Gone"), 0x4010);
    EXPECT_EQ(FinderFlagsOf(raw, "Plain.txt"), 0);
    EXPECT_EQ(FinderFlagsOf(raw, ".background/back.tiff"), 0);

    std::string extracted = work.path + "/x";
    ASSERT_EQ(
        RunShell("7zz x -snl -y -o" + QuoteArgument(extracted) + " " + QuoteArgument(image) + " > /dev/null"),
        0);
    std::string root = extracted + "/Looks";
    EXPECT_EQ(ReadWholeFile(root + "/.VolumeIcon.icns"), icon);
    std::vector<CTiffImage> tiff = ReadTiff(root + "/.background/back.tiff");
    ASSERT_EQ(tiff.size(), 2u);
    EXPECT_EQ(std::make_pair(tiff[0].width, tiff[0].height), std::make_pair(40u, 30u));
    EXPECT_EQ(std::make_pair(tiff[0].xResolution, tiff[0].yResolution), std::make_pair(72.0f, 72.0f));
    EXPECT_EQ(std::make_pair(tiff[1].width, tiff[1].height), std::make_pair(80u, 60u));
    EXPECT_EQ(std::make_pair(tiff[1].xResolution, tiff[1].yResolution), std::make_pair(144.0f, 144.0f));

    CDesktopDatabase database;
    database.ReadFromDisk((root + "/.DS_Store").c_str());
    // Both background records name the TIFF, not the pictures it was made from.
    EXPECT_TRUE(Holds(BlobOf(database, ".", MakeFourCharCode("pict")), "back.tiff"));
    std::map<std::string, CPlistEntry> rootView =
        ReadPlistWithTool(BlobOf(database, ".", MakeFourCharCode("icvp")));
    EXPECT_EQ(rootView["backgroundType"], Integer(2));
    // The colour: 0xFF8000 as 16-bit components, and as fractions in the property list.
    EXPECT_EQ(BlobOf(database, "Coloured", MakeFourCharCode("BKGD")),
              Concat({Text("ClrB"), Bytes({0xFF, 0xFF, 0x80, 0x80, 0x00, 0x00, 0, 0})}));
    std::map<std::string, CPlistEntry> colourView =
        ReadPlistWithTool(BlobOf(database, "Coloured", MakeFourCharCode("icvp")));
    EXPECT_EQ(colourView["backgroundType"], Integer(1));
    EXPECT_EQ(NormalizeReal(colourView["backgroundColorRed"]), Real(1.0));
    EXPECT_EQ(NormalizeReal(colourView["backgroundColorGreen"]), Real(128 / 255.0));
    EXPECT_EQ(NormalizeReal(colourView["backgroundColorBlue"]), Real(0.0));

    // The image dump names the flags each item carries and the picture the background names.
    ASSERT_EQ(RunShell(std::string(KILNPACK_BINARY) + " --dump " + QuoteArgument(image) + " > " +
                       QuoteArgument(work.path + "/dump.out")),
              0);
    std::string dump = ReadWholeFile(work.path + "/dump.out");
    for (char const* line : {"Finder flags: \"/\" 0x0400 (custom icon)\n",
                             "Finder flags: \"/.background\" 0x4000 (invisible)\n",
                             "Finder flags: \"/App.app\" 0x0010 (extension hidden)\n",
                             "Background picture: \"/.background/back.tiff\"\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
    EXPECT_EQ(dump.find("Plain.txt"), std::string::npos) << dump;
    ExpectValidConfiguration(work.path + "/config.xml");
}
