// The README's and the manual page's examples are what the program does: the "--dump" listing the
// README quotes is what the program prints for the example image, and the configuration both show
// is the example's own.
#include "RunKilnpack.h"

#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace
{
std::vector<std::string> SplitLines(std::string const& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The first block of lines indented by four blanks after the line that holds `marker`, unindented.
std::vector<std::string> FindIndentedBlock(std::string const& text, std::string const& marker)
{
    std::vector<std::string> const lines = SplitLines(text);
    std::vector<std::string> block;
    size_t i = 0;
    while (i < lines.size() && lines[i].find(marker) == std::string::npos)
        ++i;
    while (i < lines.size() && lines[i].compare(0, 4, "    ") != 0)
        ++i;
    for (; i < lines.size() && lines[i].compare(0, 4, "    ") == 0; ++i)
        block.push_back(lines[i].substr(4));
    return block;
}

// Whether `quoted` is `actual` with runs of lines left out where it says "...": each run of quoted
// lines stands in `actual` in one piece, in order; the first run begins `actual` and the last ends it.
testing::AssertionResult IsExcerptOf(std::vector<std::string> const& quoted,
                                     std::vector<std::string> const& actual)
{
    size_t at = 0;
    for (size_t q = 0; q <= quoted.size();)
    {
        size_t end = q;
        while (end < quoted.size() && quoted[end] != "...")
            ++end;
        size_t const length = end - q;
        bool const anchoredStart = q == 0;
        bool const anchoredEnd = end == quoted.size();
        size_t match = anchoredEnd && actual.size() >= length ? std::max(at, actual.size() - length) : at;
        while (
            match + length <= actual.size() &&
            !std::equal(quoted.begin() + long(q), quoted.begin() + long(end), actual.begin() + long(match)))
            ++match;
        if (match + length > actual.size() || (anchoredStart && match != 0) ||
            (anchoredEnd && match + length != actual.size()))
            return testing::AssertionFailure()
                   << "the printed listing has no lines \"" << (length ? quoted[q] : std::string())
                   << "\"... where quoted";
        at = match + length;
        q = end + 1;
    }
    return testing::AssertionSuccess();
}

// XML text without comments, blanks and line breaks counted as one blank.
std::string NormalizeXml(std::string text)
{
    text = std::regex_replace(text, std::regex("<!--[^]*?-->"), "");
    text = std::regex_replace(text, std::regex("\\s+"), " ");
    return std::regex_replace(text, std::regex("^ | $"), "");
}

std::string Between(std::string const& text, std::string const& after, std::string const& begin,
                    std::string const& end)
{
    size_t const start = text.find(begin, text.find(after));
    size_t const stop = text.find(end, start);
    return start == std::string::npos || stop == std::string::npos
               ? std::string()
               : text.substr(start, stop - start + end.size());
}
} // namespace

TEST(Documentation, TheReadmesDumpOfTheExampleImageIsWhatTheProgramPrints)
{
    CTempFolder work;
    std::filesystem::copy(KILNPACK_SOURCE_DIR "/example", work.path,
                          std::filesystem::copy_options::recursive);
    CRunResult const build = RunKilnpack({"kilnpack.xml"}, work.path);
    ASSERT_EQ(build.status, 0) << build.errors;
    CRunResult const dump = RunKilnpack({"--dump", "Example.dmg"}, work.path);
    ASSERT_EQ(dump.status, 0) << dump.errors;
    std::vector<std::string> const quoted =
        FindIndentedBlock(ReadWholeFile(KILNPACK_SOURCE_DIR "/README.md"), "kilnpack --dump Example.dmg");
    ASSERT_GT(quoted.size(), 5u);
    EXPECT_TRUE(IsExcerptOf(quoted, SplitLines(dump.output.substr(std::string(kBanner).size()))));
}

TEST(Documentation, TheExampleBuildsOnAnApfsVolumeWithTheSameDesktopDatabases)
{
    CEnvironmentSetting const date("SOURCE_DATE_EPOCH", "1700000000"); // both builds' aliases hold one date
    CTempFolder work;
    std::filesystem::copy(KILNPACK_SOURCE_DIR "/example", work.path, std::filesystem::copy_options::recursive);
    ASSERT_EQ(RunKilnpack({"kilnpack.xml"}, work.path).status, 0);
    std::string const hfs = RunKilnpack({"--dump", "Example.dmg"}, work.path).output;
    std::filesystem::remove(work.path + "/Example.dmg");
    std::string config = ReadWholeFile(work.path + "/kilnpack.xml");
    config.replace(config.find("<image "), 7, "<image filesystem=\"APFS\" ");
    WriteWholeFile(work.path + "/apfs.xml", config);
    CRunResult const build = RunKilnpack({"apfs.xml"}, work.path);
    ASSERT_EQ(build.status, 0) << build.errors;
    EXPECT_NE(build.output.find("hdiutil create -type SPARSE -fs APFS -volname \"Example\""), std::string::npos);
    std::string const apfs = RunKilnpack({"--dump", "Example.dmg"}, work.path).output;
    // The same listing but for the folder opened on mount, which APFS has no place for.
    std::string expected = hfs;
    size_t const open = expected.find("Open folder: ");
    ASSERT_NE(open, std::string::npos);
    expected.replace(open, expected.find('\n', open) - open, "Open folder: (none)");
    EXPECT_EQ(apfs, expected);
}

TEST(Documentation, TheReadmeAndTheManualPageShowTheExamplesOwnConfiguration)
{
    std::string const example = NormalizeXml(ReadWholeFile(KILNPACK_SOURCE_DIR "/example/kilnpack.xml"));
    std::string const readme = ReadWholeFile(KILNPACK_SOURCE_DIR "/README.md");
    std::string const manual = ReadWholeFile(KILNPACK_SOURCE_DIR "/docs/kilnpack.1");
    ASSERT_NE(example.find("<image "), std::string::npos);
    EXPECT_EQ(NormalizeXml(Between(readme, "A complete example", "<?xml", "</kilnpack>")), example);
    EXPECT_EQ(NormalizeXml(Between(manual, ".SH CONFIGURATION", "<?xml", "</kilnpack>")), example);
}
