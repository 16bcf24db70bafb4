// Volumes written from real trees, read back by independent readers: 7-Zip and fshfsinfo.
#include "HfsTestSupport.h"

#include "io/ByteOrder.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <map>
#include <set>

namespace
{

// Bytes that don't repeat within a block, so a misplaced block shows.
std::string MakePattern(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

std::string Fshfsinfo(std::string const& image, uint64_t offset, std::string const& arguments)
{
    std::string output;
    RunCapturing("fshfsinfo -o " + std::to_string(offset) + " " + arguments + " " + QuoteForShell(image),
               &output);
    return output;
}

// The "Identifier" fshfsinfo shows for a path, or 0.
uint32_t GetIdentifier(std::string const& image, uint64_t offset, std::string const& path)
{
    std::string output = Fshfsinfo(image, offset, "-F " + QuoteForShell(path));
    std::string const label = "\tIdentifier\t\t: ";
    size_t at = output.find(label);
    return at == std::string::npos ? 0 : uint32_t(strtoul(output.c_str() + at + label.size(), nullptr, 10));
}

std::vector<std::string> ListHierarchy(std::string const& image, uint64_t offset)
{
    std::string output = Fshfsinfo(image, offset, "-H");
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < output.size())
    {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line[0] == '/')
            paths.push_back(line);
        start = end + 1;
    }
    return paths;
}

uint32_t ReadNextCatalogId(std::string const& image, uint64_t offset)
{
    uint8_t header[512] = {};
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(pread(fd, header, sizeof header, off_t(offset + 1024)), 512);
    close(fd);
    return GetBe32(header + 64);
}

// Extracts the image with 7-Zip into `target`; returns 7-Zip's output.
std::string ExtractWith7zip(std::string const& image, std::string const& target)
{
    std::string output;
    int status =
        RunCapturing("7zz x -y -snld -o" + QuoteForShell(target) + " " + QuoteForShell(image), &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

class HfsVolumeWriter : public ::testing::TestWithParam<uint64_t>
{
};

} // namespace

TEST_P(HfsVolumeWriter, TreeComesBackWhole)
{
    uint64_t const offset = GetParam();
    CTempFolder dir;
    std::string const tree = dir.Join("tree");
    std::string const big = MakePattern(6 * 1024 * 1024 + 123, 1);
    WriteWholeFile(tree + "/Folder/big.bin", big);
    WriteWholeFile(tree + "/Folder/Sub/notes.txt", "notes\n");
    WriteWholeFile(tree + "/empty", "");
    WriteWholeFile(tree + "/caf\xC3\xA9.txt", "accent");
    WriteWholeFile(tree + "/ratio 16:9.txt", "colon");
    WriteWholeFile(tree + "/sparse.bin", std::string(100000, '\0') + "end");
    std::filesystem::create_directories(tree + "/Empty Folder");
    ASSERT_EQ(symlink("Folder/big.bin", (tree + "/relative link").c_str()), 0);
    ASSERT_EQ(symlink("/Applications", (tree + "/Applications").c_str()), 0);
    ASSERT_EQ(link((tree + "/Folder/Sub/notes.txt").c_str(), (tree + "/hard link.txt").c_str()), 0);
    ASSERT_EQ(chmod((tree + "/Folder/Sub/notes.txt").c_str(), 0751), 0);
    struct timespec times[2] = {{981173106, 0}, {981173106, 0}}; // 2001-02-03 04:05:06 UTC
    ASSERT_EQ(utimensat(AT_FDCWD, (tree + "/empty").c_str(), times, 0), 0);

    std::string const image = dir.Join("volume.img");
    uint64_t const size = 32 << 20;
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, offset, MakeSettings("Kiln Test", size), tree, &error)) << error;

    std::string output;
    EXPECT_EQ(RunCapturing("7zz t " + QuoteForShell(image), &output), 0) << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;

    std::string const out = dir.Join("out");
    ExtractWith7zip(image, out);
    std::string const root = out + "/Kiln Test";
    EXPECT_EQ(ReadWholeFile(root + "/Folder/big.bin"), big);
    EXPECT_EQ(ReadWholeFile(root + "/Folder/Sub/notes.txt"), "notes\n");
    EXPECT_EQ(ReadWholeFile(root + "/hard link.txt"), "notes\n");
    EXPECT_EQ(ReadWholeFile(root + "/sparse.bin"), std::string(100000, '\0') + "end");
    EXPECT_TRUE(std::filesystem::is_regular_file(root + "/empty"));
    EXPECT_EQ(std::filesystem::file_size(root + "/empty"), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Empty Folder"));
    // Stored decomposed: 7-Zip hands the name back as the volume holds it.
    EXPECT_EQ(ReadWholeFile(root + "/cafe\xCC\x81.txt"), "accent");
    EXPECT_TRUE(std::filesystem::is_symlink(root + "/relative link"));
    EXPECT_EQ(std::filesystem::read_symlink(root + "/relative link").string(), "Folder/big.bin");

    // fshfsinfo shows the name with its colon, the absolute link target, modes, owners and dates.
    std::string const volumeInfo = Fshfsinfo(image, offset, "");
    EXPECT_NE(volumeInfo.find("Name\t\t\t\t: Kiln Test"), std::string::npos) << volumeInfo;
    std::vector<std::string> paths = ListHierarchy(image, offset);
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/ratio 16:9.txt"), paths.end());
    std::string entry = Fshfsinfo(image, offset, "-F /Applications");
    EXPECT_NE(entry.find("Symbolic link target\t: /Applications"), std::string::npos) << entry;
    EXPECT_NE(entry.find("lrwxr-xr-x (0120755)"), std::string::npos) << entry;
    entry = Fshfsinfo(image, offset, "-F /Folder/Sub/notes.txt");
    EXPECT_NE(entry.find("-rwxr-x--x (0100751)"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Owner identifier\t: 99"), std::string::npos) << entry;
    entry = Fshfsinfo(image, offset, "-F /empty");
    EXPECT_NE(entry.find("Modification time\t: Feb 03, 2001 04:05:06 UTC"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Size\t\t\t: 0"), std::string::npos) << entry;

    // Every item has its own identifier, all below the volume's next catalog ID.
    uint32_t const next = ReadNextCatalogId(image, offset);
    std::set<uint32_t> ids;
    for (std::string const& path : paths)
    {
        uint32_t id = GetIdentifier(image, offset, path);
        EXPECT_TRUE(path == "/" ? id == 2 : id >= 16) << path << " " << id;
        EXPECT_LT(id, next) << path;
        EXPECT_TRUE(ids.insert(id).second) << path << " " << id;
    }
    EXPECT_EQ(paths.size(), 13u);
}

INSTANTIATE_TEST_SUITE_P(AtOffsets, HfsVolumeWriter, ::testing::Values(0, 40 * 512));

TEST(HfsVolumeWriterIds, PromisedIdsAreKeptAndOthersAvoidThem)
{
    CTempFolder dir;
    std::string const tree = dir.Join("tree");
    WriteWholeFile(tree + "/Folder/pic.png", "png");
    WriteWholeFile(tree + "/Folder/other.txt", "x");
    WriteWholeFile(tree + "/a.txt", "a");
    WriteWholeFile(tree + "/b.txt", "b");
    CHfsVolumeSettings settings = MakeSettings("Ids", 4 << 20);
    settings.fixedIds = {{"", 2}, {"Folder", 16}, {"Folder/pic.png", 17}, {"gone.png", 40}};
    settings.openFolderId = 16;
    std::string const image = dir.Join("ids.img");
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, 0, settings, tree, &error)) << error;

    EXPECT_EQ(GetIdentifier(image, 0, "/Folder"), 16u);
    EXPECT_EQ(GetIdentifier(image, 0, "/Folder/pic.png"), 17u);
    std::set<uint32_t> others = {GetIdentifier(image, 0, "/Folder/other.txt"),
                                 GetIdentifier(image, 0, "/a.txt"), GetIdentifier(image, 0, "/b.txt")};
    EXPECT_EQ(others.size(), 3u);
    for (uint32_t id : others)
        EXPECT_TRUE(id >= 18 && id != 40) << id;
    // The ID promised to an item that is gone stays reserved.
    EXPECT_EQ(ReadNextCatalogId(image, 0), 41u);

    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    CHfsVolumeInfo info;
    ASSERT_TRUE(ReadHfsVolumeInfo(fd, 0, &info, &error)) << error;
    close(fd);
    EXPECT_EQ(info.openFolderId, 16u);

    settings.fixedIds = {{"a.txt", 20}, {"b.txt", 20}};
    EXPECT_FALSE(WriteVolumeFile(image, 0, settings, tree, &error));
    settings.fixedIds = {{"a.txt", 5}};
    EXPECT_FALSE(WriteVolumeFile(image, 0, settings, tree, &error));
    EXPECT_NE(error.find("reserved"), std::string::npos) << error;
}

TEST(HfsVolumeWriterOrder, CatalogKeepsCaseInsensitiveOrder)
{
    CTempFolder dir;
    std::string const tree = dir.Join("tree");
    for (char const* name : {"c", "B", "_x", "a", "A0", "\xC3\xA9t\xC3\xA9", "Zed", "eu"})
        WriteWholeFile(tree + "/" + name, name);
    std::string const image = dir.Join("order.img");
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, 0, MakeSettings("Order", 2 << 20), tree, &error)) << error;
    // fshfsinfo lists a folder in the catalog's key order.
    // Names come back as stored: decomposed.
    std::vector<std::string> expected = {"/",   "/_x", "/a", "/A0", "/B", "/c", "/eu", "/e\xCC\x81te\xCC\x81",
                                         "/Zed"};
    EXPECT_EQ(ListHierarchy(image, 0), expected);
}

TEST(HfsVolumeWriterScale, ThousandsOfFilesAndADeepTree)
{
    CTempFolder dir;
    std::string const tree = dir.Join("tree");
    std::filesystem::create_directories(tree + "/many");
    for (int i = 0; i < 3000; ++i)
        WriteWholeFile(tree + "/many/File " + std::to_string(i) + ".txt", std::to_string(i));
    std::string deep = tree;
    for (int level = 0; level < 40; ++level)
        deep += "/level" + std::to_string(level);
    WriteWholeFile(deep + "/bottom.txt", "bottom");

    std::string const image = dir.Join("many.img");
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, 0, MakeSettings("Many", 48 << 20), tree, &error)) << error;

    std::string output;
    EXPECT_EQ(RunCapturing("7zz t " + QuoteForShell(image), &output), 0) << output;
    EXPECT_NE(output.find("Files: 3001"), std::string::npos) << output;
    EXPECT_NE(output.find("Folders: 42"), std::string::npos) << output; // root, many, 40 levels
    std::string const out = dir.Join("out");
    ExtractWith7zip(image, out);
    for (int i : {0, 1, 999, 1500, 2999})
        EXPECT_EQ(ReadWholeFile(out + "/Many/many/File " + std::to_string(i) + ".txt"), std::to_string(i));
    std::string extractedDeep = out + "/Many" + deep.substr(tree.size());
    EXPECT_EQ(ReadWholeFile(extractedDeep + "/bottom.txt"), "bottom");
    // Lookups by path walk the catalog's index nodes.
    EXPECT_NE(GetIdentifier(image, 0, "/many/File 2999.txt"), 0u);
    EXPECT_NE(GetIdentifier(image, 0, "/many/file 1234.TXT"), 0u); // case-insensitive lookup
}

TEST(HfsVolumeWriterRefusals, SaysWhatCannotBeWrittenAndWritesNothing)
{
    CTempFolder dir;
    std::string const image = dir.Join("refused.img");
    std::string const junk(2 << 20, '\x5A');
    auto const expectRefused = [&](std::string const& tree, uint64_t size, std::string const& words)
    {
        WriteWholeFile(image, junk);
        std::string error;
        EXPECT_FALSE(WriteVolumeFile(image, 0, MakeSettings("No", size), tree, &error)) << words;
        EXPECT_NE(error.find(words), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(ReadWholeFile(image), junk) << "the image was touched: " << error;
    };

    std::string const fifoTree = dir.Join("fifo");
    std::filesystem::create_directories(fifoTree + "/sub");
    ASSERT_EQ(mkfifo((fifoTree + "/sub/pipe").c_str(), 0644), 0);
    expectRefused(fifoTree, 1 << 20, fifoTree + "/sub/pipe");
    expectRefused(fifoTree, 1 << 20, "FIFO");

    std::string const socketTree = dir.Join("sock");
    std::filesystem::create_directories(socketTree);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string socketPath = socketTree + "/s";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    expectRefused(socketTree, 1 << 20, "a socket");
    close(s);

    std::string const bigTree = dir.Join("big");
    WriteWholeFile(bigTree + "/big.bin", std::string(3 << 20, 'b'));
    expectRefused(bigTree, 2 << 20, "3.0 MB");
    expectRefused(bigTree, 2 << 20, "holds 2.0 MB");

    std::string const caseTree = dir.Join("case");
    WriteWholeFile(caseTree + "/Read Me", "1");
    WriteWholeFile(caseTree + "/read me", "2");
    expectRefused(caseTree, 1 << 20, "Read Me and read me");

    std::string const longTree = dir.Join("long");
    // U+01D5 takes 2 bytes in UTF-8 but 3 UTF-16 units decomposed: 172 bytes become 258 units.
    std::string longName;
    for (int i = 0; i < 86; ++i)
        longName += "\xC7\x95";
    WriteWholeFile(longTree + "/" + longName, "");
    expectRefused(longTree, 1 << 20, "258 UTF-16 units");

    expectRefused(dir.Join("missing"), 1 << 20, "missing");
}

// With a fixed date every date of the volume is that date, whatever the files' own dates and the
// clock say; the progress callback sees the data bytes go in and can stop the write.
TEST(HfsVolumeWriterReproducible, FixedDateAndProgress)
{
    CTempFolder dir;
    std::string const tree = dir.Join("tree");
    WriteWholeFile(tree + "/Folder/a.txt", std::string(300000, 'a'));
    WriteWholeFile(tree + "/b.txt", "b");
    CHfsVolumeSettings settings = MakeSettings("Fixed", 4 << 20);
    settings.fixedDate = 3786825600u;
    std::vector<std::pair<uint64_t, uint64_t>> seen;
    settings.progress = [&seen](uint64_t done, uint64_t total)
    {
        seen.emplace_back(done, total);
        return true;
    };
    std::string error;
    std::string const first = dir.Join("first.img");
    ASSERT_TRUE(WriteVolumeFile(first, 0, settings, tree, &error)) << error;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), std::make_pair(uint64_t(0), uint64_t(300001)));
    EXPECT_EQ(seen.back(), std::make_pair(uint64_t(300001), uint64_t(300001)));

    // Other source dates, same bytes.
    std::filesystem::last_write_time(tree + "/b.txt", std::filesystem::file_time_type::clock::now() -
                                                          std::chrono::hours(100));
    std::string const second = dir.Join("second.img");
    ASSERT_TRUE(WriteVolumeFile(second, 0, settings, tree, &error)) << error;
    std::ifstream one(first, std::ios::binary), two(second, std::ios::binary);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(one), {}, std::istreambuf_iterator<char>(two)));

    settings.progress = [](uint64_t done, uint64_t) { return done == 0; };
    EXPECT_FALSE(WriteVolumeFile(dir.Join("stopped.img"), 0, settings, tree, &error));
    EXPECT_EQ(error, "interrupted");
}
