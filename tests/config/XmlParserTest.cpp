#include "support/TempFolder.h"
#include "support/XmlTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace
{
// The parse error line for a text, or "" when it parses.
std::string GetParseError(std::string const& text)
{
    CaptureStderr();
    auto tree = ParseText(text);
    std::string errors = GetCapturedStderr();
    EXPECT_EQ(tree == nullptr, !errors.empty()) << errors;
    return errors;
}

std::string DescribeTree(CXmlTree const* tree)
{
    CaptureStdout();
    PrintTree(tree, 0);
    return GetCapturedStdout();
}
} // namespace

TEST(ParseXMLData, BuildsDocumentElementsAttributesAndTextInOrder)
{
    auto tree = ParseText("<?xml version='1.0'?>\n"
                          "<!DOCTYPE kilnpack>\n"
                          "<!-- a comment -->\n"
                          "<kilnpack version='0.1'>\n"
                          "  <image name='Vol' file='out.dmg' open_folder='' template_size='20'>\n"
                          "    <?target data?>\n"
                          "    <folder name='A'/>  <!-- between --> <file name='B'/>\n"
                          "  </image>\n"
                          "  loose &amp; &lt;text&gt; &#65;&#x42;\n"
                          "  <![CDATA[ <raw> ]]>\n"
                          "</kilnpack>\n");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(DescribeTree(tree.get()), "Type: 1 Str: '' \n"
                                        "    Type: 2 Str: 'kilnpack' version = '0.1', \n"
                                        "        Type: 2 Str: 'image' name = 'Vol', file = 'out.dmg', "
                                        "open_folder = '', template_size = '20', \n"
                                        "            Type: 2 Str: 'folder' name = 'A', \n"
                                        "            Type: 2 Str: 'file' name = 'B', \n"
                                        "        Type: 6 Str: '\n  loose & <text> AB\n  ' \n"
                                        "        Type: 7 Str: ' <raw> ' \n");
}

TEST(ParseXMLData, InternalEntitiesAreReplaced)
{
    auto tree = ParseText("<!DOCTYPE k [<!ENTITY vol 'My Disk'> <!ENTITY img '<image file=\"a\"/>'>]>\n"
                          "<k name='&vol;'>&img;</k>");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(DescribeTree(tree.get()), "Type: 1 Str: '' \n"
                                        "    Type: 2 Str: 'k' name = 'My Disk', \n"
                                        "        Type: 2 Str: 'image' file = 'a', \n");
}

TEST(ParseXMLData, MalformedDocumentsReportLineAndDescription)
{
    EXPECT_EQ(GetParseError("<a>\n<b></c>\n</a>\n"),
              "Error: XML Error (line: 2) 'Opening and ending tag mismatch: b line 2 and c'.\n");
    EXPECT_EQ(GetParseError(""), "Error: XML Error (line: 1) 'Document is empty'.\n");
    EXPECT_EQ(GetParseError("<a>\n\n<b x='1' x='2'/></a>"),
              "Error: XML Error (line: 3) 'Attribute x redefined'.\n");
    EXPECT_EQ(GetParseError("<a>&undefined;</a>"),
              "Error: XML Error (line: 1) 'Entity 'undefined' not defined'.\n");
    // A description holding UTF-8 text is shown as it is.
    EXPECT_EQ(GetParseError("<a>\n</\xc3\xa9>"),
              "Error: XML Error (line: 2) 'Opening and ending tag mismatch: a line 1 and \xc3\xa9'.\n");
    CaptureStderr();
    EXPECT_EQ(ParseXMLData(nullptr), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Error: XML Error (line: -1) 'Unknown Error'.\n");
}

TEST(ParseXMLData, ExternalEntitiesAndDtdsAreNeverLoaded)
{
    CTempFolder directory;
    std::string secret = directory.WriteFile("secret.txt", "SECRET");
    std::string dtd = directory.WriteFile("outside.dtd", "<!ENTITY leak 'SECRET'>");
    EXPECT_EQ(GetParseError("<!DOCTYPE k [<!ENTITY e SYSTEM 'file://" + secret + "'>]>\n<k>\n&e;</k>"),
              "Error: XML Error (line: 3) 'failed to load external entity \"file://" + secret + "\"'.\n");
    EXPECT_EQ(GetParseError("<!DOCTYPE k [<!ENTITY % p SYSTEM '" + secret + "'> %p;]><k/>"),
              "Error: XML Error (line: 1) 'failed to load external entity \"" + secret + "\"'.\n");
    EXPECT_EQ(GetParseError("<!DOCTYPE k [<!ENTITY e SYSTEM 'http://127.0.0.1:9/x'>]><k>&e;</k>"),
              "Error: XML Error (line: 1) 'failed to load external entity \"http://127.0.0.1:9/x\"'.\n");
    EXPECT_EQ(GetParseError("<!DOCTYPE k SYSTEM '" + dtd + "'>\n<k a='&leak;'/>"),
              "Error: XML Error (line: 2) 'Entity 'leak' not defined'.\n");
}

TEST(ParseXMLData, EntityExpansionAttacksAreRefusedQuickly)
{
    std::string laughs = "<!DOCTYPE k [<!ENTITY l0 'lol'>";
    for (int level = 1; level <= 9; ++level)
    {
        std::string previous = "&l" + std::to_string(level - 1) + ";";
        laughs += "<!ENTITY l" + std::to_string(level) + " '";
        for (int copy = 0; copy < 10; ++copy)
            laughs += previous;
        laughs += "'>";
    }
    laughs += "]>\n<k a='&l9;'>&l9;</k>";
    // Refused where the declarations are checked, before any reference is expanded.
    EXPECT_EQ(GetParseError(laughs),
              "Error: XML Error (line: 1) 'Entities expand to more than 1048576 characters'.\n");

    std::string quadratic = "<!DOCTYPE k [<!ENTITY a '" + std::string(50000, 'x') + "'>]>\n<k>";
    for (int copy = 0; copy < 50000; ++copy)
        quadratic += "&a;";
    EXPECT_EQ(GetParseError(quadratic + "</k>"),
              "Error: XML Error (line: 2) 'Entities expand to more than 1048576 characters'.\n");

    // Markup copied by reference counts as well.
    std::string copies = "<!DOCTYPE k [<!ENTITY i '<image file=\"a.dmg\" name=\"A\"/>'>]>\n<k>";
    for (int copy = 0; copy < 40000; ++copy)
        copies += "&i;";
    EXPECT_EQ(GetParseError(copies + "</k>"),
              "Error: XML Error (line: 2) 'Entities expand to more than 1048576 characters'.\n");
    EXPECT_EQ(GetParseError("<!DOCTYPE k [<!ENTITY a '&b;'><!ENTITY b '&a;'>]>\n<k>\n&a;</k>"),
              "Error: XML Error (line: 1) 'Detected an entity reference loop'.\n");
}

TEST(ParseXMLData, DocumentsWithTooManyElementsAreRefused)
{
    std::string text = "<kilnpack>\n";
    for (int index = 0; index < 100000; ++index) // with kilnpack itself, one element too many
        text += "<i/>";
    EXPECT_EQ(GetParseError(text + "</kilnpack>"),
              "Error: XML Error (line: 2) 'Document has more than 100000 elements'.\n");
    text.resize(text.size() - 4);
    EXPECT_EQ(GetParseError(text + "</kilnpack>"), "");
}

TEST(ReadFileIntoMemory, ReadsRegularFilesWhole)
{
    CTempFolder directory;
    std::string contents("<k>\0\xff</k>", 8);
    auto data = ReadFileIntoMemory(directory.WriteFile("config.xml", contents).c_str());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data->begin(), data->end()), contents);

    auto empty = ReadFileIntoMemory(directory.WriteFile("empty.xml", "").c_str());
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->empty());
}

TEST(ReadFileIntoMemory, AnythingButARegularReadableFileIsRefused)
{
    CTempFolder directory;
    std::string fifo = directory.Join("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string missing = directory.Join("missing.xml");
    std::string folder = directory.path;
    std::string huge = directory.WriteFile("huge.xml", ""); // larger than the parser takes; sparse
    std::filesystem::resize_file(huge, 3ull << 30);
    for (std::string const& path : {missing, folder, fifo, huge, std::string("/dev/null")})
    {
        CaptureStderr();
        EXPECT_EQ(ReadFileIntoMemory(path.c_str()), nullptr) << path;
        EXPECT_EQ(GetCapturedStderr(), "Error: Unable to access file '" + path + "'.\n");
    }
}
