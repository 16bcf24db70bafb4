// Builds images with the kilnpack program in another format, sized to their content and with a licence
// agreement, and reads them back with 7-Zip, dmg2img, libplist and Apple's HFS+ checker.
#include "support/ImageTestSupport.h"
#include "support/FsckHfs.h"

#include <plist/plist.h>

#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace
{
uint64_t Be(std::string const& bytes, size_t at, int size)
{
    uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

uint64_t Le64(std::string const& bytes, size_t at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// The Data of resource `type` with `id` in the image's property list, read with libplist.
std::string ReadResource(std::string const& image, char const* type, char const* id)
{
    std::string const bytes = ReadWholeFile(image);
    std::string const koly = bytes.substr(bytes.size() - 512);
    EXPECT_EQ(koly.substr(0, 4), "koly");
    std::string const xml = bytes.substr(Be(koly, 216, 8), Be(koly, 224, 8));
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    std::string data = "(none)";
    plist_t list = root ? plist_dict_get_item(plist_dict_get_item(root, "resource-fork"), type) : nullptr;
    for (uint32_t i = 0; list && i < plist_array_get_size(list); ++i)
    {
        plist_t entry = plist_array_get_item(list, i);
        char* entryId = nullptr;
        plist_get_string_val(plist_dict_get_item(entry, "ID"), &entryId);
        if (entryId && std::string(entryId) == id)
        {
            char* value = nullptr;
            uint64_t length = 0;
            plist_get_data_val(plist_dict_get_item(entry, "Data"), &value, &length);
            data.assign(value, length);
            free(value);
        }
        free(entryId);
    }
    plist_free(root);
    return data;
}
} // namespace

TEST(ImageOptionsEndToEnd, AutoSizedUdbzImageWithLicenseAgreement)
{
    CTempFolder work;
    std::filesystem::create_directories(work.path + "/payload/Docs");
    std::mt19937 random(7);
    std::string noise(3 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::ofstream(work.path + "/payload/noise.bin", std::ios::binary) << noise;
    std::string text;
    for (int i = 0; text.size() < (2u << 20); ++i)
        text += "line " + std::to_string(i) + "\n";
    std::ofstream(work.path + "/payload/Docs/log.txt") << text;
    std::ofstream(work.path + "/LICENSE.txt") << "Terms\nCaf\xC3\xA9\n";
    std::string const rtf = "{\\rtf1\\ansi Lizenz}";
    std::ofstream(work.path + "/LIZENZ.rtf") << rtf;

    std::string const image = work.path + "/Out.dmg";
    std::ofstream(work.path + "/config.xml")
        << "<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
        << "<image file='" << image << "' name='Auto' template_size='auto' format='UDBZ'>\n"
        << "  <file source='payload' name='Payload'/>\n"
        << "  <license default_language='en_US'>\n"
        << "    <text language='en_US' file='LICENSE.txt'/>\n"
        << "    <text language='de_DE' file='LIZENZ.rtf'/>\n"
        << "  </license>\n"
        << "</image>\n</kilnpack>\n";
    ASSERT_EQ(RunShell("cd " + QuoteArgument(work.path) + " && TMPDIR=" + QuoteArgument(work.path) + " " +
                       KILNPACK_BINARY + " config.xml > build.out 2> build.err"),
              0);
    std::string const output = ReadWholeFile(work.path + "/build.out");
    std::string const errors = ReadWholeFile(work.path + "/build.err");
    EXPECT_EQ(errors.find("Error"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Warning"), std::string::npos) << errors;
    EXPECT_NE(output.find("Running Command: hdiutil resize -sectors min \"" + image +
                          ".sparseimage\"\n"
                          "Running Command: hdiutil convert \"" +
                          image + ".sparseimage\" -format UDBZ -o \"" + image + "\"\n"),
              std::string::npos)
        << output;
    ASSERT_TRUE(std::filesystem::is_regular_file(image)) << output << errors;
    EXPECT_FALSE(std::filesystem::exists(image + ".sparseimage"));

    // The image still reads after its property list was rewritten, and holds the files.
    ASSERT_EQ(
        RunShell("7zz t " + QuoteArgument(image) + " > " + QuoteArgument(work.path + "/7z.log") + " 2>&1"), 0)
        << ReadWholeFile(work.path + "/7z.log");
    ASSERT_EQ(RunShell("7zz x -y -o" + QuoteArgument(work.path + "/x") + " " + QuoteArgument(image) +
                       " > /dev/null"),
              0);
    EXPECT_TRUE(ReadWholeFile(work.path + "/x/Auto/Payload/noise.bin") == noise);
    EXPECT_TRUE(ReadWholeFile(work.path + "/x/Auto/Payload/Docs/log.txt") == text);
    ExpectDmgVolumeSound(image);

    // The volume fills its partition and holds the payload with at most 1 MB free.
    std::string const raw = work.path + "/raw.img";
    ASSERT_EQ(RunShell("dmg2img -i " + QuoteArgument(image) + " -o " + QuoteArgument(raw) + " > /dev/null"),
              0);
    std::string const disk = ReadWholeFile(raw);
    uint64_t const first = Le64(disk, 1024 + 32), last = Le64(disk, 1024 + 40);
    uint64_t const partitionBytes = (last - first + 1) * 512;
    std::string const header = disk.substr(first * 512 + 1024, 512);
    ASSERT_EQ(header.substr(0, 2), "H+");
    uint64_t const blockSize = Be(header, 40, 4), totalBlocks = Be(header, 44, 4),
                   freeBlocks = Be(header, 48, 4);
    EXPECT_EQ(totalBlocks * blockSize, partitionBytes);
    EXPECT_LE(freeBlocks * blockSize, std::max<uint64_t>(1000000, partitionBytes / 100));
    uint64_t const payload = noise.size() + text.size();
    EXPECT_GT(partitionBytes, payload);
    // Beyond the files: the 1 MB allocation bitmap of the large volume it was made as, and little else.
    EXPECT_LT(partitionBytes, payload + 3 * 1024 * 1024);

    // The agreement's resources: English first of two, its text in MacRoman with CR line ends; German RTF.
    EXPECT_EQ(ReadResource(image, "LPic", "5000"), std::string("\0\0\0\2"
                                                               "\0\0\0\0\0\0"
                                                               "\0\3\0\1\0\0",
                                                               16));
    EXPECT_EQ(ReadResource(image, "TEXT", "5000"), "Terms\rCaf\x8E\r");
    EXPECT_EQ(ReadResource(image, "RTF ", "5001"), rtf);
    EXPECT_EQ(ReadResource(image, "STR#", "5001").substr(0, 10), std::string("\0\6\7Deutsch", 10));
}
