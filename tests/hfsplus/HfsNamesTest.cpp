#include "hfsplus/HfsNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{

std::u16string ToHfs(std::string const& utf8)
{
    std::u16string name;
    std::string error;
    EXPECT_TRUE(ConvertNameToHfs(utf8, &name, &error)) << error;
    return name;
}

} // namespace

TEST(HfsNames, StoresDecomposedUtf16WithColonAsSlash)
{
    EXPECT_EQ(ToHfs("caf\xC3\xA9"), u"cafe\u0301");              // NFC input is decomposed
    EXPECT_EQ(ToHfs("cafe\xCC\x81"), u"cafe\u0301");             // NFD input stays
    EXPECT_EQ(ToHfs("\xEA\xB0\x80"), u"\u1100\u1161");           // Hangul syllable to jamo
    EXPECT_EQ(ToHfs("a:b"), u"a/b");                             // the Finder's separator
    EXPECT_EQ(ToHfs("\xF0\x9F\x98\x80.png"), u"\U0001F600.png"); // surrogate pairs pass
    // Canonical ordering of combining marks: dot below (220) before circumflex (230).
    EXPECT_EQ(ToHfs("a\xCC\x82\xCC\xA3"), u"a\u0323\u0302");
}

TEST(HfsNames, LeavesAppleExcludedRangesComposed)
{
    EXPECT_EQ(ToHfs("\xE2\x84\xA6"), u"\u2126"); // OHM SIGN, would become U+03A9
    EXPECT_EQ(ToHfs("\xEF\xA4\x80"), u"\uF900"); // CJK compatibility ideograph
    EXPECT_EQ(ToHfs("\xE2\x84\xAB"), u"\u212B"); // ANGSTROM SIGN
}

TEST(HfsNames, RefusesNamesItCannotStore)
{
    std::u16string name;
    std::string error;
    EXPECT_TRUE(ConvertNameToHfs(std::string(255, 'x'), &name, &error));
    EXPECT_FALSE(ConvertNameToHfs(std::string(256, 'x'), &name, &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    // 200 precomposed letters are 400 units once decomposed.
    std::string accented;
    for (int i = 0; i < 200; ++i)
        accented += "\xC3\xA9";
    EXPECT_FALSE(ConvertNameToHfs(accented, &name, &error));
    EXPECT_NE(error.find("400"), std::string::npos) << error;
    EXPECT_FALSE(ConvertNameToHfs("bad\xC3(", &name, &error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}

TEST(HfsNames, ReadsBackAsComposedUtf8)
{
    EXPECT_EQ(ConvertHfsNameToUtf8(u"cafe\u0301 a/b"), "caf\xC3\xA9 a:b");
}

TEST(HfsNames, FoldsCaseAsTheCatalogDoes)
{
    EXPECT_EQ(FoldHfsChar(u'A'), u'a');
    EXPECT_EQ(FoldHfsChar(u'z'), u'z');
    EXPECT_EQ(FoldHfsChar(0), 0xFFFF);      // NUL sorts after everything
    EXPECT_EQ(FoldHfsChar(0x200D), 0);      // zero width joiner is ignored
    EXPECT_EQ(FoldHfsChar(0xFEFF), 0);      // so is the byte order mark
    EXPECT_EQ(FoldHfsChar(0x00C6), 0x00E6); // AE has no decomposition: folded
    EXPECT_EQ(FoldHfsChar(0x00D8), 0x00F8);
    EXPECT_EQ(FoldHfsChar(0x0391), 0x03B1); // Greek
    EXPECT_EQ(FoldHfsChar(0x0410), 0x0430); // Cyrillic
    EXPECT_EQ(FoldHfsChar(0x0531), 0x0561); // Armenian
    EXPECT_EQ(FoldHfsChar(0x10A0), 0x10D0); // Georgian
    EXPECT_EQ(FoldHfsChar(0x2160), 0x2170); // Roman numerals
    EXPECT_EQ(FoldHfsChar(0xFF21), 0xFF41); // fullwidth Latin
    EXPECT_EQ(FoldHfsChar(0x24B6), 0x24B6); // circled letters are not folded
    EXPECT_EQ(FoldHfsChar(0x0130), 0x0130); // dotted I decomposes, never stored
}

TEST(HfsNames, OrdersNamesCaseInsensitively)
{
    std::vector<std::u16string> names = {u"c", u"B", u"_x", u"a", u"ab", u"A0", u"\u00E6", u"z"};
    std::sort(names.begin(), names.end(),
              [](std::u16string const& a, std::u16string const& b) { return CompareHfsNames(a, b) < 0; });
    std::vector<std::u16string> expected = {u"_x", u"a", u"A0", u"ab", u"B", u"c", u"z", u"\u00E6"};
    EXPECT_EQ(names, expected);

    EXPECT_EQ(CompareHfsNames(u"README", u"readme"), 0);
    EXPECT_EQ(CompareHfsNames(u"a\u200Db", u"ab"), 0);
    EXPECT_LT(CompareHfsNames(u"", u"a"), 0);
    EXPECT_LT(CompareHfsNames(u"a", u"a\u0301"), 0);
    EXPECT_GT(CompareHfsNames(std::u16string(u"a\0", 2), u"az"), 0);
}
