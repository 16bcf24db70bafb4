// Images with an APFS volume, built by the kilnpack program in every format, sized to their content
// and with a licence agreement, and read back with 7-Zip, apfsck and fsapfsinfo.
#include "support/ImageTestSupport.h"

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace
{
bool HasTool(char const* name)
{
    return RunShell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

int Build(std::string const& folder, std::string const& config)
{
    return RunShell("cd " + QuoteArgument(folder) + " && SOURCE_DATE_EPOCH=1700000000 TMPDIR=" + QuoteArgument(folder) +
                    " " + KILNPACK_BINARY + " " + config + " > build.out 2> build.err");
}
} // namespace

TEST(ApfsImageEndToEnd, BuildsEveryFormatWithALicenceAndAutoSizeThatIndependentReadersAccept)
{
    CTempFolder work;
    std::filesystem::create_directories(work.path + "/payload/Docs");
    std::string text;
    for (int i = 0; text.size() < (1u << 20); ++i)
        text += "line " + std::to_string(i) + "\n";
    std::ofstream(work.path + "/payload/Docs/log.txt") << text;
    std::ofstream(work.path + "/payload/run.sh") << "#!/bin/sh\n";
    chmod((work.path + "/payload/run.sh").c_str(), 0755);
    std::ofstream(work.path + "/LICENSE.txt") << "Terms\n";

    for (char const* format : {"UDZO", "UDBZ", "ULMO", "UDRO"})
    {
        SCOPED_TRACE(format);
        std::string const image = work.path + "/Out-" + format + ".dmg";
        std::ofstream(work.path + "/config.xml")
            << "<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
            << "<image file='" << image << "' name='Apfs Disk' template_size='auto' format='" << format
            << "' filesystem='apfs' open_folder='Payload'>\n"
            << "  <file source='payload' name='Payload' hide_extension='true'/>\n"
            << "  <folder name='.hidden' hidden='true'/>\n"
            << "  <link target='Payload/Docs' name='Docs'/>\n"
            << "  <license><text language='en_US' file='LICENSE.txt'/></license>\n"
            << "</image>\n</kilnpack>\n";
        ASSERT_EQ(Build(work.path, "config.xml"), 0) << ReadWholeFile(work.path + "/build.err");
        std::string const output = ReadWholeFile(work.path + "/build.out");
        std::string const errors = ReadWholeFile(work.path + "/build.err");
        EXPECT_NE(output.find("Running Command: hdiutil create -type SPARSE -fs APFS -volname \"Apfs Disk\""),
                  std::string::npos)
            << output;
        EXPECT_EQ(output.find("bless"), std::string::npos);
        std::string const warning = "Warning: 'image' tag attribute 'open_folder' ('Payload') can't be kept on an "
                                    "APFS volume, which has no place for the folder opened on mount; the image is "
                                    "built without it.\n";
        EXPECT_EQ(errors.substr(0, warning.size()), warning);
        EXPECT_EQ(errors.find("Error"), std::string::npos) << errors;
        EXPECT_NE(ReadWholeFile(image).find("LPic"), std::string::npos) << "the licence resources";

        if (!HasTool("7zz"))
            GTEST_SKIP() << "7zz is not installed";
        std::string const parts = work.path + "/parts-" + format;
        ASSERT_EQ(RunShell("7zz x -tdmg -y -o" + QuoteArgument(parts) + " " + QuoteArgument(image) + " > /dev/null"), 0);
        std::string const container = parts + "/4.apfs";
        EXPECT_EQ(std::filesystem::file_size(container), 128u << 20) << "auto size: the smallest container";
        std::string const files = work.path + "/files-" + format;
        ASSERT_EQ(RunShell("7zz x -y -o" + QuoteArgument(files) + " " + QuoteArgument(container) + " > /dev/null"), 0);
        EXPECT_TRUE(ReadWholeFile(files + "/Payload/Docs/log.txt") == text);
        struct stat info{};
        ASSERT_EQ(stat((files + "/Payload/run.sh").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0755u);

        if (!HasTool("apfsck"))
            GTEST_SKIP() << "apfsck (apfsprogs) is not installed";
        std::string out;
        EXPECT_EQ(RunCapturing("apfsck -cuw " + QuoteArgument(container), &out), 0) << out;
    }

    // The same configuration and sources give the same bytes; the dump reads the APFS volume.
    std::string const first = ReadWholeFile(work.path + "/Out-UDRO.dmg");
    std::filesystem::remove(work.path + "/Out-UDRO.dmg");
    ASSERT_EQ(Build(work.path, "config.xml"), 0);
    EXPECT_TRUE(ReadWholeFile(work.path + "/Out-UDRO.dmg") == first) << "a reproducible build";
    std::string dump;
    ASSERT_EQ(RunCapturing(std::string(KILNPACK_BINARY) + " --dump " + QuoteArgument(work.path + "/Out-UDZO.dmg"), &dump), 0)
        << dump;
    EXPECT_NE(dump.find("Volume name: \"Apfs Disk\"\nOpen folder: (none)\nBackground picture: (none)\n"
                        "Finder flags: \"/.hidden\" 0x4000 (invisible)\n"
                        "Finder flags: \"/Payload\" 0x0010 (extension hidden)\n"),
              std::string::npos)
        << dump;
}

TEST(ApfsImageEndToEnd, AnUnknownFileSystemOrAPayloadTooBigForTheSizeIsRefusedLeavingNothing)
{
    CTempFolder work;
    std::ofstream(work.path + "/config.xml") << "<kilnpack><image file='Out.dmg' name='V' filesystem='NTFS'/></kilnpack>\n";
    EXPECT_EQ(Build(work.path, "config.xml"), 1);
    EXPECT_EQ(ReadWholeFile(work.path + "/build.err"),
              "Error: 'image' tag attribute 'filesystem' value 'NTFS' is unknown; use 'HFS+' or 'APFS'.\n");
    EXPECT_FALSE(std::filesystem::exists(work.path + "/Out.dmg"));

    std::ofstream(work.path + "/big.bin").close();
    ASSERT_EQ(truncate((work.path + "/big.bin").c_str(), 200 << 20), 0); // a hole: quick to copy
    std::ofstream(work.path + "/config.xml")
        << "<kilnpack><image file='Out.dmg' name='V' filesystem='APFS' template_size='128'>"
           "<file source='big.bin' name='big.bin'/></image></kilnpack>\n";
    EXPECT_EQ(Build(work.path, "config.xml"), 1);
    std::string const errors = ReadWholeFile(work.path + "/build.err");
    EXPECT_NE(errors.find("the files need 205 MB of an APFS container of 128 MB: they do not fit"), std::string::npos)
        << errors;
    std::vector<std::string> left;
    for (auto const& entry : std::filesystem::directory_iterator(work.path))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"big.bin", "build.err", "build.out", "config.xml"}));
}
