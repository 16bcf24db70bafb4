// The value types beyond the first four: type codes, UTF-16 strings, 64-bit numbers and dates, in
// bytes, in print and through copies.
#include "DatabaseTestSupport.h"

using Key = CDesktopDatabase::CDatabaseKey;
using Value = CDesktopDatabase::CDatabaseValue;

namespace
{
std::string Encoded(Value const& value)
{
    std::ostringstream out;
    value.Write(out);
    return out.str();
}

Value Decoded(std::string const& bytes)
{
    std::istringstream in(bytes);
    Value value;
    value.Read(in);
    return value;
}

std::string PrintedValue(Value const& value)
{
    return CapturePrinted([&] { value.Print(stdout); });
}

Value UnicodeString(std::u16string const& units)
{
    Value value;
    value.SetUnicodeStringValue(units);
    return value;
}

Value Date(uint64_t ticks)
{
    Value value;
    value.SetDateValue(ticks);
    return value;
}

uint64_t const kSecondsFrom1904To1970 = 2082844800;
} // namespace

TEST(ValueTypes, EncodedBytes)
{
    Value value;
    value.SetTypeValue(MakeFourCharCode("icnv"));
    EXPECT_EQ(Encoded(value), "typeicnv");

    value.SetCompValue(0x0102030405060708u);
    EXPECT_EQ(Encoded(value), "comp" + Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    value.SetDateValue(0xFFFFFFFF00000001u);
    EXPECT_EQ(Encoded(value), "dutc" + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}));

    // The count is in UTF-16 units, not bytes; units are big-endian.
    EXPECT_EQ(Encoded(UnicodeString(u"A\u00e9\U0001F600")),
              "ustr" + Words({4}) + Bytes({0, 0x41, 0, 0xE9, 0xD8, 0x3D, 0xDE, 0x00}));
    EXPECT_EQ(Encoded(UnicodeString(u"")), "ustr" + Words({0}));

    // The whole record, as a file holds it.
    CDesktopDatabase database;
    database.SetType(".", MakeFourCharCode("icvl"), MakeFourCharCode("icnv"));
    database.SetType(L"\u00e9", MakeFourCharCode("vstl"), MakeFourCharCode("clmv"));
    auto record = database.records.begin();
    EXPECT_EQ(EncodeRecord(record->first, record->second), Words({1}) + Bytes({0, '.'}) + "icvltypeicnv");
    ++record;
    EXPECT_EQ(EncodeRecord(record->first, record->second), Words({1}) + Bytes({0, 0xE9}) + "vstltypeclmv");
}

TEST(ValueTypes, DecodedBytesReadBackAndWriteAgainUnchanged)
{
    std::string const samples[] = {
        "type" + Bytes({0xFF, 0, 'a', 0x7F}),
        "comp" + Bytes({0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8}),
        "dutc" + Bytes({0, 0, 0xC4, 0, 0, 0, 0x80, 0}),
        "ustr" + Words({3}) + Bytes({0xD8, 0x00, 0, 0, 0xFF, 0xFF}),
        "ustr" + Words({0}),
    };
    for (std::string const& bytes : samples)
        EXPECT_EQ(Encoded(Decoded(bytes)), bytes) << bytes.substr(0, 4);

    EXPECT_EQ(static_cast<unsigned int>(Decoded("type" + Bytes({0xFF, 0, 'a', 0x7F})).value), 0xFF00617Fu);
    EXPECT_EQ(Decoded("comp" + Bytes({0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8})).wideValue,
              0xFFFEFDFCFBFAF9F8u);
    Value const text = Decoded("ustr" + Words({2}) + Bytes({0, 'h', 0, 'i'}));
    ASSERT_EQ(text.size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char const*>(text.data), 4), Bytes({0, 'h', 0, 'i'}));
}

TEST(ValueTypes, ShortOrHostilePayloadsAreRefused)
{
    char const* const beyond = "Error: Read beyond end of block.";
    EXPECT_EQ(ThrownText([] { Decoded("type" + Bytes({1, 2, 3})); }), beyond);
    EXPECT_EQ(ThrownText([] { Decoded("comp" + Bytes({1, 2, 3, 4, 5, 6, 7})); }), beyond);
    EXPECT_EQ(ThrownText([] { Decoded("dutc" + Bytes({1, 2, 3, 4})); }), beyond);
    // A unit count beyond the bytes left fails before any buffer of that size is made.
    EXPECT_EQ(ThrownText([] { Decoded("ustr" + Words({3}) + Bytes({0, 1, 0, 2, 0})); }), beyond);
    EXPECT_EQ(ThrownText([] { Decoded("ustr" + Words({0x7FFFFFFF}) + Words({0})); }), beyond);
    EXPECT_EQ(ThrownText([] { Decoded("ustr" + Words({0x80000000}) + Words({0})); }), beyond);
    EXPECT_EQ(ThrownText([] { Decoded("ustr" + Words({0xFFFFFFFF}) + Words({0})); }), beyond);
    // Tags differ from the known ones by case or a single letter.
    for (char const* tag : {"Type", "USTR", "cmp ", "dut", "utc "})
        EXPECT_EQ(ThrownText([&] { Decoded(std::string(tag) + std::string(12, '\0')); }),
                  "Unknown database value type.")
            << tag;
}

TEST(ValueTypes, PrintedForms)
{
    Value value;
    value.SetTypeValue(MakeFourCharCode("icnv"));
    EXPECT_EQ(PrintedValue(value), "(type)'icnv'");
    value.SetTypeValue(0x00FF4142);
    EXPECT_EQ(PrintedValue(value), std::string("(type)'\0\xff"
                                               "AB'",
                                               12));

    value.SetCompValue(0);
    EXPECT_EQ(PrintedValue(value), "(comp)0 (0x0000000000000000)");
    value.SetCompValue(0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(PrintedValue(value), "(comp)18446744073709551615 (0xffffffffffffffff)");
    value.SetCompValue(4096);
    EXPECT_EQ(PrintedValue(value), "(comp)4096 (0x0000000000001000)");

    CDesktopDatabase database;
    database.SetType("a", MakeFourCharCode("icvl"), MakeFourCharCode("icnv"));
    database.SetUnicodeString("b", MakeFourCharCode("cmmt"), u"caf\u00e9");
    database.SetComp("c", MakeFourCharCode("lg1S"), 1234567);
    database.SetDate("d", MakeFourCharCode("moDD"), kSecondsFrom1904To1970 << 16);
    EXPECT_EQ(CapturePrinted([&] { database.Print(stdout); }), "\"a\" 'icvl' : (type)'icnv'\n"
                                                         "\"b\" 'cmmt' : (ustr)\"caf\xc3\xa9\"\n"
                                                         "\"c\" 'lg1S' : (comp)1234567 (0x000000000012d687)\n"
                                                         "\"d\" 'moDD' : (dutc)136501316812800 "
                                                         "(1970-01-01 00:00:00 UTC)\n");
}

TEST(ValueTypes, UnicodeStringsPrintAsEscapedUtf8)
{
    EXPECT_EQ(PrintedValue(UnicodeString(u"")), "(ustr)\"\"");
    // One, two, three and four UTF-8 bytes.
    EXPECT_EQ(PrintedValue(UnicodeString(u"a\u00e9\u4e2d\U0001F600")),
              "(ustr)\"a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"");
    EXPECT_EQ(PrintedValue(UnicodeString(u"\U0010FFFF\uFFFF")), "(ustr)\"\xf4\x8f\xbf\xbf\xef\xbf\xbf\"");
    // Quotes, backslashes and control characters are escaped; a backslash always starts one.
    EXPECT_EQ(PrintedValue(UnicodeString(u"say \"hi\"\\n")), "(ustr)\"say \\\"hi\\\"\\\\n\"");
    EXPECT_EQ(PrintedValue(UnicodeString(u"a\nb\rc\td")), "(ustr)\"a\\nb\\rc\\td\"");
    EXPECT_EQ(PrintedValue(UnicodeString(std::u16string(u"\0\x1f\x7f\x80\x9f\xa0", 6))),
              "(ustr)\"\\u0000\\u001f\\u007f\\u0080\\u009f\xc2\xa0\"");
    // Surrogates that are not part of a pair print as escapes of the unit.
    EXPECT_EQ(PrintedValue(UnicodeString(std::u16string{0xD800})), "(ustr)\"\\ud800\"");
    EXPECT_EQ(PrintedValue(UnicodeString(std::u16string{0xDC00, 0xD800, 'x'})), "(ustr)\"\\udc00\\ud800x\"");
    EXPECT_EQ(PrintedValue(UnicodeString(std::u16string{0xDBFF, 0xDBFF, 0xDFFF})),
              "(ustr)\"\\udbff\xf4\x8f\xbf\xbf\"");
}

TEST(ValueTypes, DatesPrintInUtcWithExactFractions)
{
    EXPECT_EQ(PrintedValue(Date(0)), "(dutc)0 (1904-01-01 00:00:00 UTC)");
    EXPECT_EQ(PrintedValue(Date((kSecondsFrom1904To1970 - 1) << 16)),
              "(dutc)136501316747264 (1969-12-31 23:59:59 UTC)");
    // 2024-02-29 12:34:56.5: a leap day, half a second.
    EXPECT_EQ(PrintedValue(Date(248516109697024u)), "(dutc)248516109697024 (2024-02-29 12:34:56.5 UTC)");
    // 2001-01-01 and the smallest and largest fractions, to all 16 places they need.
    uint64_t const year2001 = 3061152000u;
    EXPECT_EQ(PrintedValue(Date((year2001 << 16) + 1)),
              "(dutc)200615657472001 (2001-01-01 00:00:00.0000152587890625 UTC)");
    EXPECT_EQ(PrintedValue(Date((year2001 << 16) + 0xC000)),
              "(dutc)200615657521152 (2001-01-01 00:00:00.75 UTC)");
    EXPECT_EQ(PrintedValue(Date(0xFFFFFFFFFFFFFFFFu)),
              "(dutc)18446744073709551615 (8921490-12-06 10:44:15.9999847412109375 UTC)");
    // 2000 is a leap year, 2100 is not.
    EXPECT_EQ(PrintedValue(Date((kSecondsFrom1904To1970 + 951782400) << 16)),
              "(dutc)198877328179200 (2000-02-29 00:00:00 UTC)");
    EXPECT_EQ(PrintedValue(Date((kSecondsFrom1904To1970 + 4107542400) << 16)),
              "(dutc)405693215539200 (2100-03-01 00:00:00 UTC)");
}

TEST(ValueTypes, CopiesAreDeepAndSettersReplaceEveryKind)
{
    Value original = UnicodeString(u"abc");
    Value copy(original);
    Value assigned;
    assigned.SetCompValue(9);
    assigned = original;
    original.SetDateValue(7);
    EXPECT_EQ(original.size, 0u);
    EXPECT_EQ(original.data, nullptr);
    for (Value const* value : {&copy, &assigned})
    {
        EXPECT_EQ(value->type, MakeFourCharCode("ustr"));
        EXPECT_EQ(value->wideValue, 0u);
        ASSERT_EQ(value->size, 6u);
        EXPECT_EQ(std::string(reinterpret_cast<char const*>(value->data), 6),
                  Bytes({0, 'a', 0, 'b', 0, 'c'}));
    }

    Value wide;
    wide.SetDateValue(0x123456789ABCDEF0u);
    Value wideCopy(wide);
    EXPECT_EQ(wideCopy.wideValue, 0x123456789ABCDEF0u);
    wide.SetLongValue(1);
    EXPECT_EQ(wide.wideValue, 0u);
    EXPECT_EQ(Encoded(wide), "long" + Words({1}));
    // A string set from its own units.
    Value self = UnicodeString(u"xy");
    self.SetBlobValue(self.size, self.data);
    EXPECT_EQ(Encoded(self), "blob" + Words({4}) + Bytes({0, 'x', 0, 'y'}));
}
