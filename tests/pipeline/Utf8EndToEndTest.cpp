// Names in many scripts through a whole build: the volume and its items carry them, 7-Zip reads them
// from the catalog, every desktop database names its records exactly as the catalog does, and a
// reader written here from the file format alone finds each item's icon position.
#include "support/ImageTestSupport.h"
#include "hfsplus/HfsNames.h"
#include "support/FsckHfs.h"
#include "support/StoredRecords.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unicode/unistr.h>

namespace
{
std::u16string ToUtf16(std::string const& utf8)
{
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    return std::u16string(reinterpret_cast<char16_t const*>(text.getBuffer()), size_t(text.length()));
}

std::string Location(int x, int y)
{
    std::string bytes;
    for (int number : {x, y})
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(char((uint32_t(number) >> shift) & 0xFF));
    return bytes + std::string(6, '\xFF') + std::string(2, '\0');
}
} // namespace

TEST(Utf8EndToEnd, NamesInEveryScriptReachVolumeRecordsAndAlias)
{
    std::string const volume = "Caf\xC3\xA9 \xC3\x9Cn\xC3\xAF"
                               "c\xC3\xB8"
                               "d\xC3\xA9";                    // Café Ünïcødé
    std::string const resume = "R\xC3\xA9sum\xC3\xA9.txt";     // Résumé.txt
    std::string const hangul = "\xED\x95\x9C\xEA\xB8\x80.txt"; // 한글.txt
    std::string const emoji = "\xF0\x9F\x98\x80 Smile.txt";    // 😀 Smile.txt
    std::string const folder = "Ordner \xC3\x84";              // Ordner Ä
    std::string const omega = "\xCE\xA9mega.txt";              // Ωmega.txt
    std::string const link = "Z\xC3\xBCrich";                  // Zürich
    std::string const picture = "fond \xC3\xA9t\xC3\xA9.png";  // fond été.png

    CTempFolder work;
    std::filesystem::create_directories(work.path + "/src");
    std::filesystem::create_directories(work.path + "/tmp");
    std::ofstream(work.path + "/src/" + resume) << "CV\n";
    std::ofstream(work.path + "/src/" + picture, std::ios::binary) << "\x89PNG\r\n\x1a\nnot really";
    std::string image = work.path + "/" + volume + ".dmg";
    std::ofstream(work.path + "/config.xml")
        << "<?xml version='1.0' encoding='UTF-8'?>\n<kilnpack version='0.1'>\n"
        << "<image file='" << volume << ".dmg' name='" << volume << "' open_folder='" << folder
        << "' template_size='16' finder_records='both'>\n"
        << "  <folder name='.background'><file source='src/" << picture << "' name='" << picture
        << "'/></folder>\n"
        << "  <file source='src/" << resume << "' name='" << resume << "' x='100' y='110'/>\n"
        << "  <file source='src/" << resume << "' name='" << hangul << "' x='200' y='210'/>\n"
        << "  <file source='src/" << resume << "' name='" << emoji << "' x='300' y='310'/>\n"
        << "  <link target='/Applications/" << link << "' name='" << link << "' x='400' y='410'/>\n"
        << "  <folder name='" << folder << "' x='500' y='510'>\n"
        << "    <file source='src/" << resume << "' name='" << omega << "' x='20' y='30'/>\n"
        << "    <view type='icon' x='50' y='60' width='300' height='200' icon_size='64'/>\n"
        << "  </folder>\n"
        << "  <view type='icon' width='640' height='400' background='.background/" << picture << "'/>\n"
        << "</image>\n</kilnpack>\n";

    ASSERT_EQ(RunShell("cd " + QuoteArgument(work.path) + " && TMPDIR=" + QuoteArgument(work.path + "/tmp") +
                       " " + KILNPACK_BINARY + " config.xml > build.out 2> build.err"),
              0);
    std::string output = ReadWholeFile(work.path + "/build.out");
    std::string errors = ReadWholeFile(work.path + "/build.err");
    for (std::string prefix : {"Error", "Warning", "Internal Error"})
        EXPECT_EQ(("\n" + errors).find("\n" + prefix), std::string::npos) << errors;
    // The command echo carries the names as written.
    EXPECT_NE(output.find("-volname \"" + volume + "\""), std::string::npos) << output;
    EXPECT_NE(output.find("ln -s \"/Applications/" + link + "\""), std::string::npos) << output;
    ASSERT_TRUE(std::filesystem::is_regular_file(image)) << output << errors;
    ExpectDmgVolumeSound(image);

    // 7-Zip reads the names from the catalog and writes them as the catalog holds them.
    std::string extracted = work.path + "/x";
    ASSERT_EQ(RunShell("7zz x -snld -y -o" + QuoteArgument(extracted) + " " + QuoteArgument(image) + " > " +
                       QuoteArgument(work.path + "/7z.log") + " 2>&1"),
              0)
        << ReadWholeFile(work.path + "/7z.log");
    std::map<std::u16string, std::string> catalog; // stored name -> its path under x/
    std::u16string volumeName;
    for (auto const& entry : std::filesystem::recursive_directory_iterator(extracted))
    {
        std::string relative = std::filesystem::relative(entry.path(), extracted).string();
        if (relative.find('/') == std::string::npos)
            volumeName = ToUtf16(relative);
        catalog[ToUtf16(entry.path().filename().string())] = relative;
    }
    // Every name is stored decomposed, as HFS+ stores names.
    std::u16string stored;
    std::string error;
    for (std::string const& name : {volume, resume, hangul, emoji, folder, omega, link, picture})
    {
        ASSERT_TRUE(ConvertNameToHfs(name, &stored, &error)) << error;
        EXPECT_EQ(catalog.count(stored), 1u) << name;
    }
    ASSERT_TRUE(ConvertNameToHfs(volume, &stored, &error));
    EXPECT_EQ(volumeName, stored);
    std::string root = extracted + "/" + catalog[volumeName];
    ASSERT_TRUE(ConvertNameToHfs(resume, &stored, &error));
    EXPECT_EQ(ReadWholeFile(extracted + "/" + catalog[stored]), "CV\n");

    CStoreReader rootStore(ReadWholeFile(root + "/.DS_Store"));
    auto rootRecords = rootStore.ReadRecords();
    std::string folderPath;
    for (auto const& [name, path] : catalog)
        if (ConvertHfsNameToUtf8(name) == folder)
            folderPath = extracted + "/" + path;
    CStoreReader folderStore(ReadWholeFile(folderPath + "/.DS_Store"));
    auto folderRecords = folderStore.ReadRecords();

    // Every record name is "." or exactly a name the catalog holds, and the records stand in the
    // order of the Finder's name comparison.
    for (auto const* records : {&rootRecords, &folderRecords})
    {
        for (size_t i = 0; i < records->size(); ++i)
        {
            std::u16string const& name = (*records)[i].first;
            EXPECT_TRUE(name == u"." || catalog.count(name) == 1) << ConvertHfsNameToUtf8(name);
            if (i > 0)
            {
                EXPECT_LE(CompareHfsNames((*records)[i - 1].first, name), 0) << ConvertHfsNameToUtf8(name);
            }
        }
    }
    std::map<std::string, std::string> expectedRoot = {{resume, Location(100, 110)},
                                                       {hangul, Location(200, 210)},
                                                       {emoji, Location(300, 310)},
                                                       {link, Location(400, 410)},
                                                       {folder, Location(500, 510)}};
    EXPECT_EQ(rootStore.iconPositions.size(), expectedRoot.size());
    for (auto const& [name, location] : expectedRoot)
    {
        ASSERT_TRUE(ConvertNameToHfs(name, &stored, &error));
        EXPECT_EQ(rootStore.iconPositions[stored], location) << name;
    }
    ASSERT_TRUE(ConvertNameToHfs(omega, &stored, &error));
    EXPECT_EQ(folderStore.iconPositions[stored], Location(20, 30));
    // The sub-folder's view records and its version stand under its stored name.
    ASSERT_TRUE(ConvertNameToHfs(folder, &stored, &error));
    for (char const* code : {"fwi0", "bwsp", "icvp", "vSrn"})
        EXPECT_NE(
            std::find(rootRecords.begin(), rootRecords.end(), std::make_pair(stored, std::string(code))),
            rootRecords.end())
            << code;

    // The alias holds the volume and picture names whole in UTF-16, as the catalog has them.
    CDesktopDatabase database;
    database.ReadFromDisk((root + "/.DS_Store").c_str());
    std::vector<unsigned char> alias = BlobOf(database, ".", MakeFourCharCode("pict"));
    auto unicodeTag = [](std::u16string const& name)
    {
        std::string bytes = {char(name.size() >> 8), char(name.size() & 0xFF)};
        for (char16_t unit : name)
            bytes += std::string{char(unit >> 8), char(unit & 0xFF)};
        return bytes;
    };
    std::string aliasBytes(alias.begin(), alias.end());
    ASSERT_TRUE(ConvertNameToHfs(picture, &stored, &error));
    EXPECT_NE(aliasBytes.find(unicodeTag(stored)), std::string::npos);
    EXPECT_NE(aliasBytes.find(unicodeTag(volumeName)), std::string::npos);

    // --dump prints the names in UTF-8, as the volume stores them.
    std::string listing = work.path + "/dump.txt";
    ASSERT_EQ(RunShell(std::string(KILNPACK_BINARY) + " --dump " + QuoteArgument(root + "/.DS_Store") +
                       " > " + QuoteArgument(listing)),
              0);
    std::string dump = ReadWholeFile(listing);
    for (std::string const& name : {resume, hangul, emoji, link, folder})
    {
        ASSERT_TRUE(ConvertNameToHfs(name, &stored, &error));
        std::string utf8;
        icu::UnicodeString(reinterpret_cast<UChar const*>(stored.data()), int32_t(stored.size()))
            .toUTF8String(utf8);
        EXPECT_NE(dump.find("\"" + utf8 + "\" 'Iloc'"), std::string::npos) << name << "\n" << dump;
    }
}
