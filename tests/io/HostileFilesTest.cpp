// What kilnpack's own file access does with hostile files: outputs that are special files (at the
// commit, after the early check a build makes; the program's tests cover that one) and property
// lists built to crash or swamp a recursive parser.
#include "io/PropertyList.h"
#include "io/TempOutputFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

bool IsFifo(std::string const& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

// Writes a finished file over `path` and gives the commit's error (empty on success).
std::string CommitOver(std::string const& path)
{
    CTempOutputFile out;
    std::string error;
    if (!out.Open(path, &error) || !out.Write("PNG", 3, &error) || !out.Commit(&error))
        return error.empty() ? "failed without a reason" : error;
    return std::string();
}
} // namespace

// The early check and the commit refuse a FIFO, a device and a link to one; a regular file (or a
// link to one) is replaced; no temporary file stays behind either way.
TEST(HostileFiles, OutputsThatAreSpecialFilesAreNeverReplaced)
{
    CTempFolder folder;
    std::string const fifo = folder.Join("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, folder.Join("to-fifo"));
    std::vector<std::pair<std::string, std::string>> cases = {{fifo, "a FIFO"},
                                                              {folder.Join("to-fifo"), "a link to a FIFO"}};
    // A device of our own making (the null device's numbers), never the system's.
    bool const root = geteuid() == 0;
    if (root)
    {
        ASSERT_EQ(mknod(folder.Join("null").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
        cases.push_back({folder.Join("null"), "a device"});
    }
    for (auto const& [path, what] : cases)
    {
        std::string kind;
        EXPECT_FALSE(CTempOutputFile::IsReplaceable(path, &kind)) << path;
        EXPECT_EQ(kind, what);
        EXPECT_EQ(CommitOver(path), "'" + path + "' is " + what + ", not a regular file; it is not replaced");
    }
    EXPECT_TRUE(IsFifo(fifo));
    EXPECT_TRUE(fs::is_symlink(folder.Join("to-fifo")));
    if (root)
    {
        EXPECT_TRUE(fs::is_character_file(folder.Join("null")));
    }

    std::string const regular = folder.WriteFile("old.png", "old");
    fs::create_symlink(regular, folder.Join("to-old"));
    std::string kind;
    EXPECT_TRUE(CTempOutputFile::IsReplaceable(folder.Join("to-old"), &kind));
    EXPECT_EQ(CommitOver(regular), "");
    EXPECT_EQ(ReadWholeFile(regular), "PNG");
    for (auto const& entry : fs::directory_iterator(folder.path))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
    if (!root)
        GTEST_SKIP() << "not root: the device node case needs mknod";
}

// 200,000 levels overflow libplist's recursion; measured first, such lists are refused in both
// forms, as are a binary list whose array holds itself and one whose sharing libplist would copy
// into 2^40 objects. Real lists, and modest sharing, parse.
TEST(HostileFiles, DeepPropertyListsAreRefusedBeforeParsing)
{
    constexpr size_t kLevels = 200000;
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (size_t i = 0; i < kLevels; ++i)
        xml += "<array>";
    EXPECT_FALSE(IsPlistNestingWithin(xml.data(), xml.size()));
    EXPECT_EQ(ParsePropertyList(xml.data(), xml.size()), nullptr);

    // Binary: object i is an array holding object i + 1; 2-byte references and 4-byte offsets.
    auto binary = [](size_t count, std::vector<std::vector<uint16_t>> const& children)
    {
        std::string bytes = "bplist00";
        std::vector<uint32_t> offsets;
        for (size_t i = 0; i < count; ++i)
        {
            offsets.push_back(uint32_t(bytes.size()));
            std::vector<uint16_t> const& refs = children[i];
            bytes += char(0xA0 | refs.size());
            for (uint16_t ref : refs)
                bytes += std::string{char(ref >> 8), char(ref & 0xFF)};
        }
        uint64_t const table = bytes.size();
        for (uint32_t offset : offsets)
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes += char(offset >> shift);
        std::string trailer(32, '\0');
        trailer[6] = 4;
        trailer[7] = 2;
        for (int i = 0; i < 8; ++i)
        {
            trailer[8 + i] = char(uint64_t(count) >> (56 - 8 * i));
            trailer[24 + i] = char(table >> (56 - 8 * i));
        }
        return bytes + trailer;
    };
    std::vector<std::vector<uint16_t>> chain(60000);
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        chain[i] = {uint16_t(i + 1)};
    std::string const deep = binary(chain.size(), chain);
    EXPECT_FALSE(IsPlistNestingWithin(deep.data(), deep.size()));
    EXPECT_EQ(ParsePropertyList(deep.data(), deep.size()), nullptr);
    std::string const loop = binary(1, {{0}});
    EXPECT_FALSE(IsPlistNestingWithin(loop.data(), loop.size()));

    // Each level refers twice to the next: 2^40 objects once libplist copies what is shared.
    std::vector<std::vector<uint16_t>> diamond(40);
    for (size_t i = 0; i + 1 < diamond.size(); ++i)
        diamond[i] = {uint16_t(i + 1), uint16_t(i + 1)};
    std::string const shared = binary(diamond.size(), diamond);
    EXPECT_EQ(ParsePropertyList(shared.data(), shared.size()), nullptr);
    diamond.resize(12);
    diamond.back().clear();
    std::string const small = binary(diamond.size(), diamond);
    EXPECT_TRUE(IsPlistNestingWithin(small.data(), small.size(), 12));
    EXPECT_FALSE(IsPlistNestingWithin(small.data(), small.size(), 11));
    plist_t parsed = ParsePropertyList(small.data(), small.size());
    EXPECT_NE(parsed, nullptr);
    plist_free(parsed);

    std::string const info =
        "<?xml version=\"1.0\"?><!-- <dict><dict> --><plist version=\"1.0\"><dict>"
        "<key>CFBundleIconFile</key><string>App</string><key>A</key><array/></dict></plist>";
    EXPECT_TRUE(IsPlistNestingWithin(info.data(), info.size(), 3)); // plist, dict, key
    EXPECT_FALSE(IsPlistNestingWithin(info.data(), info.size(), 2));
    parsed = ParsePropertyList(info.data(), info.size());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(plist_get_node_type(parsed), PLIST_DICT);
    plist_free(parsed);
}
