// Byte form of records and the big-endian helpers, including the read-side checks.
#include "DatabaseTestSupport.h"

using Key = CDesktopDatabase::CDatabaseKey;
using Value = CDesktopDatabase::CDatabaseValue;

namespace
{
Value ReadValue(std::string const& bytes)
{
    std::istringstream in(bytes);
    Value value;
    value.Read(in);
    return value;
}

Key ReadKey(std::string const& bytes)
{
    std::istringstream in(bytes);
    Key key;
    key.Read(in);
    return key;
}
} // namespace

TEST(RecordEncoding, WorkedExamples)
{
    Value marker;
    marker.SetLongValue(1);
    EXPECT_EQ(EncodeRecord(Key(".", MakeFourCharCode("QRVL")), marker),
              Bytes({0, 0, 0, 1, 0, 0x2E, 0x51, 0x52, 0x56, 0x4C, 0x6C, 0x6F, 0x6E, 0x67, 0, 0, 0, 1}));

    Value blob;
    unsigned char const bytes[] = {1, 2, 3};
    blob.SetBlobValue(3, bytes);
    EXPECT_EQ(EncodeRecord(Key("ab", MakeFourCharCode("Iloc")), blob),
              Bytes({0,    0,    0,    2,    0, 0x61, 0, 0x62, 0x49, 0x6C, 0x6F, 0x63,
                     0x62, 0x6C, 0x6F, 0x62, 0, 0,    0, 3,    1,    2,    3}));
}

TEST(RecordEncoding, IntegersAreBigEndian)
{
    std::ostringstream out;
    StreamWriteInt(out, 0x01020304);
    EXPECT_EQ(out.str(), Bytes({1, 2, 3, 4}));
    std::istringstream in(Bytes({1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(StreamReadInt(in), 0x01020304);
    EXPECT_EQ(StreamReadInt(in), -2);
    EXPECT_EQ(ThrownText([&] { StreamReadChar(in); }), "Error: Read beyond end of block.");
}

TEST(RecordEncoding, ValueForms)
{
    Value value;
    value.SetBoolValue(false);
    std::ostringstream out;
    value.Write(out);
    EXPECT_EQ(out.str(), Bytes({0x62, 0x6F, 0x6F, 0x6C, 0}));
    value.SetShortValue(-1);
    out.str("");
    value.Write(out);
    EXPECT_EQ(out.str(), Bytes({0x73, 0x68, 0x6F, 0x72, 0, 0, 0xFF, 0xFF}));
    value.SetBlobValue(0, nullptr);
    out.str("");
    value.Write(out);
    EXPECT_EQ(out.str(), Bytes({0x62, 0x6C, 0x6F, 0x62, 0, 0, 0, 0}));

    Value unknown;
    out.str("");
    EXPECT_EQ(ThrownText([&] { unknown.Write(out); }), "Unknown database value type.");

    // A wide unit beyond 16 bits keeps its low 16; a narrow byte 0xE9 becomes FF E9.
    out.str("");
    Key(L"\U0001F600", 0).Write(out);
    EXPECT_EQ(out.str().substr(4, 2), Bytes({0xF6, 0x00}));
    out.str("");
    Key("\xe9", 0).Write(out);
    EXPECT_EQ(out.str(), Bytes({0, 0, 0, 1, 0xFF, 0xE9, 0, 0, 0, 0}));
}

TEST(RecordDecoding, KeysAndNameLengths)
{
    Key const key = ReadKey(Bytes({0, 0, 0, 2, 0x00, 0xE9, 0xFF, 0xE9, 0x49, 0x6C, 0x6F, 0x63}));
    ASSERT_EQ(key.name.size(), 2u);
    EXPECT_EQ(key.name[0], 233);
    EXPECT_EQ(key.name[1], -23);
    EXPECT_EQ(key.code, MakeFourCharCode("Iloc"));
    std::ostringstream out;
    key.Write(out);
    EXPECT_EQ(out.str(), Bytes({0, 0, 0, 2, 0x00, 0xE9, 0xFF, 0xE9, 0x49, 0x6C, 0x6F, 0x63}));

    EXPECT_TRUE(ReadKey(Bytes({0, 0, 0, 0, 1, 2, 3, 4})).name.empty());
    std::string longest = Words({256}) + std::string(512, 'a') + Words({1});
    EXPECT_EQ(ReadKey(longest).name.size(), 256u);

    char const* const invalid = "Error: Invalid File Contents: Invalid String Length.";
    EXPECT_EQ(ThrownText([] { ReadKey(Words({257}) + std::string(600, 'a')); }), invalid);
    EXPECT_EQ(ThrownText([] { ReadKey(Words({0xFFFFFFFF}) + std::string(16, 'a')); }), invalid);
    EXPECT_EQ(ThrownText([] { ReadKey(Words({0x80000000})); }), invalid);
    EXPECT_EQ(ThrownText(
                  [] {
                      ReadKey(Bytes({0, 0, 0, 2, 0, 0x61, 0}));
                  }),
              "Error: Read beyond end of block.");
}

TEST(RecordDecoding, ValuesAndTheirChecks)
{
    EXPECT_EQ(ReadValue(Words({MakeFourCharCode("shor"), 0xFFFF})).value, 65535);
    EXPECT_EQ(ThrownText(
                  [] {
                      ReadValue(Words({MakeFourCharCode("shor"), 0x10000}));
                  }),
              "Invalid Short Value.");
    EXPECT_EQ(ThrownText(
                  [] {
                      ReadValue(Words({MakeFourCharCode("shor"), 0xFFFFFFFF}));
                  }),
              "Invalid Short Value.");
    Value const flag = ReadValue(Words({MakeFourCharCode("bool")}) + Bytes({2}));
    EXPECT_EQ(flag.value, 1);
    std::ostringstream out;
    flag.Write(out);
    EXPECT_EQ(out.str().back(), '\x01');
    EXPECT_EQ(ReadValue(Words({MakeFourCharCode("long"), 0xFFFFFFFF})).value, -1);
    EXPECT_EQ(ThrownText(
                  [] {
                      ReadValue(Words({MakeFourCharCode("utf8"), 0}));
                  }),
              "Unknown database value type.");

    Value const blob = ReadValue(Words({MakeFourCharCode("blob"), 3}) + Bytes({9, 8, 7}));
    ASSERT_EQ(blob.size, 3u);
    EXPECT_EQ(blob.data[2], 7);
}

TEST(RecordDecoding, BlobLengthIsTrustedOnlyAsFarAsTheBytesGo)
{
    char const* const beyond = "Error: Read beyond end of block.";
    // Lengths far beyond the stream fail before any buffer of that size is made.
    EXPECT_EQ(ThrownText([] { ReadValue(Words({MakeFourCharCode("blob"), 0xFFFFFFFF})); }), beyond);
    EXPECT_EQ(ThrownText([] { ReadValue(Words({MakeFourCharCode("blob"), 0x7FFFFFFF, 0})); }), beyond);
    EXPECT_EQ(ThrownText(
                  [] {
                      ReadValue(Words({MakeFourCharCode("blob"), 5}) + Bytes({1, 2, 3, 4}));
                  }),
              beyond);
    Value const exact = ReadValue(Words({MakeFourCharCode("blob"), 4}) + Bytes({1, 2, 3, 4}));
    EXPECT_EQ(exact.size, 4u);
}
