// The configuration schema accepts the example and what the code reads, and refuses what it
// doesn't: each broken configuration below differs from a valid one in one place.
#include "TempDirectory.h"
#include "support/ConfigSchema.h"

#include <gtest/gtest.h>

namespace
{
std::string Configuration(std::string const& imageAttributes, std::string const& content)
{
    return "<?xml version=\"1.0\"?>\n<kilnpack version=\"0.1\"><image file=\"a.dmg\" name=\"A\"" + imageAttributes +
           ">" + content + "</image></kilnpack>\n";
}
} // namespace

TEST(Schema, AcceptsTheExampleAndEveryAttributeInEveryForm)
{
    ExpectValidConfiguration(KILNPACK_SOURCE_DIR "/example/kilnpack.xml");
    CTempDirectory directory;
    ExpectValidConfiguration(directory.WriteFile(
        "all.xml",
        Configuration(" open_folder=\"\" template_size=\" 12MB\" finder_records=\"MODERN\"",
                      "<folder name=\"F\" x=\"-3\" y=\"+4\"><file source=\"s\" name=\"n\" required=\"No\"/></folder>"
                      "<link target=\"/Applications\" name=\"Applications\" x=\"1\" y=\"2\"/>"
                      "<view type=\"icon\" x=\"1\" y=\"2\" width=\"3\" height=\"4\" show_toolbar=\"YES\" grid=\"0\" "
                      "icon_size=\"64\" text_position=\"Right\" toolbar_width=\"150\" font_size=\"12px\" "
                      "background=\"b.png\"/>")));
    ExpectValidConfiguration(directory.WriteFile("empty.xml", "<kilnpack/>"));
}

TEST(Schema, RefusesWhatTheCodeDoesNotRead)
{
    CTempDirectory directory;
    struct
    {
        char const* what;
        std::string text;
    } const cases[] = {
        {"unknown attribute", Configuration(" colour=\"red\"", "")},
        {"unknown element", Configuration("", "<picture name=\"p\"/>")},
        {"missing name", "<kilnpack><image file=\"a.dmg\"/></kilnpack>"},
        {"boolean", Configuration("", "<file source=\"s\" name=\"n\" required=\"maybe\"/>")},
        {"integer", Configuration(" template_size=\"big\"", "")},
        {"finder records", Configuration(" finder_records=\"fancy\"", "")},
        {"view type", Configuration("", "<view type=\"list\"/>")},
        {"text position", Configuration("", "<view type=\"icon\" text_position=\"left\"/>")},
        {"path as a name", Configuration("", "<link target=\"t\" name=\"a/b\"/>")},
        {"version", "<kilnpack version=\"0.2\"/>"},
        {"image outside kilnpack", "<image file=\"a.dmg\" name=\"A\"/>"},
    };
    for (auto const& test : cases)
    {
        std::string messages;
        EXPECT_NE(ValidateConfiguration(directory.WriteFile("broken.xml", test.text), &messages), 0) << test.what;
        EXPECT_NE(messages.find("fails to validate"), std::string::npos) << test.what << ": " << messages;
    }
}
