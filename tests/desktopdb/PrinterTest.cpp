// Text form of records as "--dump" prints it.
#include "DatabaseTestSupport.h"

namespace
{
std::string Printed(CDesktopDatabase const& database)
{
    return CapturePrinted([&] { database.Print(stdout); });
}

std::string PrintedBlob(unsigned int size)
{
    std::vector<unsigned char> bytes(size);
    for (unsigned int i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(0x41 + i);
    CDesktopDatabase database;
    database.SetBlob("ab", MakeFourCharCode("Iloc"), size, bytes.data());
    return Printed(database);
}
} // namespace

TEST(Printer, ScalarValuesInKeyOrder)
{
    CDesktopDatabase database;
    EXPECT_EQ(Printed(database), "");
    database.SetShort("b", MakeFourCharCode("fwsw"), -1);
    database.SetLong("a", MakeFourCharCode("QRVL"), -1);
    database.SetLong("A", MakeFourCharCode("long"), 16);
    database.SetBool("C", MakeFourCharCode("dscl"), true);
    database.SetBool("c", MakeFourCharCode("ICVO"), false);
    database.SetShort("d", MakeFourCharCode("icvt"), 16);
    EXPECT_EQ(Printed(database), "\"a\" 'QRVL' : (long)-1 (0xffffffff)\n"
                                 "\"A\" 'long' : (long)16 (0x00000010)\n"
                                 "\"b\" 'fwsw' : (short)65535 (0xffff)\n"
                                 "\"c\" 'ICVO' : false\n"
                                 "\"C\" 'dscl' : true\n"
                                 "\"d\" 'icvt' : (short)16 (0x0010)\n");
}

TEST(Printer, BlobDumpLines)
{
    EXPECT_EQ(PrintedBlob(0), "\"ab\" 'Iloc' : (blob 0 bytes)\n");
    EXPECT_EQ(PrintedBlob(16),
              "\"ab\" 'Iloc' : (blob 16 bytes)\n"
              "        0000: 41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 'ABCDEFGHIJKLMNOP'\n");
    EXPECT_EQ(PrintedBlob(17),
              "\"ab\" 'Iloc' : (blob 17 bytes)\n"
              "        0000: 41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 'ABCDEFGHIJKLMNOP'\n"
              "        0010: 51                                               'Q'\n");
    EXPECT_EQ(PrintedBlob(20),
              "\"ab\" 'Iloc' : (blob 20 bytes)\n"
              "        0000: 41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 'ABCDEFGHIJKLMNOP'\n"
              "        0010: 51 52 53 54                                      'QRST'\n");
    std::string const full = PrintedBlob(16);
    size_t const lineStart = full.find('\n') + 1;
    EXPECT_EQ(full.find('\n', lineStart) - lineStart, 81u); // a full dump line is 81 characters
}

TEST(Printer, RawBytesAndUnprintables)
{
    CDesktopDatabase database;
    std::wstring const name = {0x4E2D, -23, L'"'};
    unsigned char const bytes[] = {0x20, 0x7F, 0x80, 0xFF, 0x7E};
    database.SetBlob(name.c_str(), 0x01FF4142, sizeof bytes, bytes);
    // The name's units in UTF-8: U+4E2D, U+FFE9 (the unit held negative), the quote as it is.
    EXPECT_EQ(Printed(database), std::string("\"\xE4\xB8\xAD\xEF\xBF\xA9\"\" '\x01\xFF"
                                             "AB' : (blob 5 bytes)\n"
                                             "        0000: 20 7f 80 ff 7e") +
                                     std::string(35, ' ') + "' ...~'\n");
}

TEST(Printer, UnknownTypeThrowsAfterTheKey)
{
    CDesktopDatabase database;
    database.records[CDesktopDatabase::CDatabaseKey("x", MakeFourCharCode("abcd"))];
    std::string text;
    std::string const printed = CapturePrinted([&] { text = ThrownText([&] { database.Print(stdout); }); });
    EXPECT_EQ(text, "Unknown database value type.");
    EXPECT_EQ(printed, "\"x\" 'abcd' : ");
}
