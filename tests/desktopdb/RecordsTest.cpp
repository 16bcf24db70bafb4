// Record map: key order, insert-or-replace and value ownership.
#include "DatabaseTestSupport.h"

using Key = CDesktopDatabase::CDatabaseKey;
using Value = CDesktopDatabase::CDatabaseValue;

TEST(KeyOrder, FoldsEveryUnitToLowerCaseAsHfsPlusDoes)
{
    EXPECT_EQ(UnicodeStringCompare(L"apple", L"Banana"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"Banana", L"cherry"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"Read Me", L"readme"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"README", L"readme"), 0);
    // Letters fold to lower case, so [ \ ] ^ _ ` (0x5B-0x60) sort before every letter, as in the
    // Finder's own files: _config.yml before about.md, My_App.app before MyApp Help.pdf.
    EXPECT_EQ(UnicodeStringCompare(L"zebra", L"_notes"), 1);
    EXPECT_EQ(UnicodeStringCompare(L"_config.yml", L"about.md"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"My_App.app", L"MyApp Help.pdf"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"[draft]", L"Appendix"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"App", L"Apple"), -1);
    EXPECT_EQ(UnicodeStringCompare(L"Apple", L"App"), 1);
    EXPECT_EQ(UnicodeStringCompare(L"", L"a"), -1);
    // Precomposed letters never stand in stored names and are not folded; other letters fold to
    // lower case as HFS+ folds them; characters HFS+ ignores are skipped.
    EXPECT_NE(UnicodeStringCompare(L"\u00e9", L"\u00c9"), 0);
    EXPECT_EQ(UnicodeStringCompare(L"\u0391\u0392", L"\u03b1\u03b2"), 0); // Greek
    EXPECT_EQ(UnicodeStringCompare(L"\u0416x", L"\u0436y"), -1);          // Cyrillic
    EXPECT_EQ(UnicodeStringCompare(L"e\u0301", L"ez"), 1);                // decomposed é
    EXPECT_EQ(UnicodeStringCompare(L"\u0391", L"z"), 1);
    EXPECT_EQ(UnicodeStringCompare(L"a\u200Da", L"ab"), -1);              // zero width joiner skipped
    // Units are UTF-16 whatever their sign: one held negative sorts as its 16 bits and equals the
    // same unit held positive; NUL sorts after every other unit.
    std::wstring negative(1, static_cast<wchar_t>(-23));
    EXPECT_EQ(UnicodeStringCompare(negative, std::wstring(1, L'\0')), -1);
    EXPECT_EQ(UnicodeStringCompare(negative, std::wstring(1, static_cast<wchar_t>(0xFFE9))), 0);
    EXPECT_EQ(UnicodeStringCompare(L"\xD83D\xDE00", L"\uFF21"), -1); // surrogates before U+FF21
}

TEST(KeyOrder, NarrowNamesAreUtf8ElseSignedBytesAndCodesBreakTies)
{
    Key const high("\xe9", 0); // not UTF-8
    ASSERT_EQ(high.name.size(), 1u);
    EXPECT_EQ(high.name[0], -23);
    EXPECT_EQ(Key("Cafe\xcc\x81 \xf0\x9f\x98\x80", 0).name,
              (std::wstring{L'C', L'a', L'f', L'e', 0x301, L' ', 0xD83D, 0xDE00}));
    EXPECT_TRUE(Key("x", MakeFourCharCode("Iloc")) < Key("X", MakeFourCharCode("iloc")));
    EXPECT_FALSE(Key("x", MakeFourCharCode("iloc")) < Key("X", MakeFourCharCode("Iloc")));
    EXPECT_FALSE(Key("abc", 1) < Key("ABC", 1));
    EXPECT_FALSE(Key("ABC", 1) < Key("abc", 1));
    EXPECT_EQ(MakeFourCharCode("Iloc"), 0x496C6F63u);
}

TEST(DatabaseSet, ReplacesValueAndKeepsFirstName)
{
    CDesktopDatabase database;
    EXPECT_TRUE(database.IsEmpty());
    database.SetLong("Readme", MakeFourCharCode("Iloc"), 5);
    EXPECT_FALSE(database.IsEmpty());
    database.SetBool(L"README", MakeFourCharCode("Iloc"), true);
    ASSERT_EQ(database.records.size(), 1u);
    auto const& record = *database.records.begin();
    EXPECT_EQ(record.first.name, L"Readme");
    EXPECT_EQ(record.second.type, MakeFourCharCode("bool"));
    EXPECT_EQ(record.second.value, 1);
}

TEST(DatabaseSet, ValuesHoldTheirDocumentedForms)
{
    CDesktopDatabase database;
    unsigned char const bytes[] = {1, 2, 3};
    database.SetBlob("a", 1, 3, bytes);
    database.SetShort("a", 1, -1);
    Value const& shortValue = database.records.begin()->second;
    EXPECT_EQ(shortValue.type, MakeFourCharCode("shor"));
    EXPECT_EQ(shortValue.value, 65535);
    EXPECT_EQ(shortValue.size, 0u);
    EXPECT_EQ(shortValue.data, nullptr);

    database.SetLong("b", 1, -2);
    EXPECT_EQ(database.records[Key("b", 1)].value, -2);
    database.SetBlob("c", 1, 0, nullptr);
    EXPECT_EQ(database.records[Key("c", 1)].type, MakeFourCharCode("blob"));
    EXPECT_EQ(database.records[Key("c", 1)].size, 0u);
}

TEST(DatabaseValue, CopiesOwnTheirBytes)
{
    Value copy;
    {
        Value original;
        unsigned char const bytes[] = {7, 8, 9};
        original.SetBlobValue(3, bytes);
        copy = original;
        Value constructed(original);
        original.SetLongValue(1);
        ASSERT_EQ(constructed.size, 3u);
        EXPECT_EQ(constructed.data[2], 9);
    }
    ASSERT_EQ(copy.size, 3u);
    EXPECT_EQ(copy.data[0], 7);
    copy = *&copy;
    EXPECT_EQ(copy.data[1], 8);
    copy.SetBlobValue(2, copy.data + 1); // from its own bytes
    EXPECT_EQ(copy.size, 2u);
    EXPECT_EQ(copy.data[0], 8);
    copy.FreeValue();
    EXPECT_EQ(copy.type, 0u);
    EXPECT_EQ(copy.data, nullptr);
}
