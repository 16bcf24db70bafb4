// The table of known attributes: typos and values outside a set are named in a warning, everything
// the documentation shows passes without one, and the manual page and the README describe exactly
// the table's attributes.
#include "support/XmlTestSupport.h"

#include "config/KnownAttributes.h"
#include "support/FileBytes.h"

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace
{
std::string WarningsFor(std::string const& xml)
{
    std::unique_ptr<CXmlTree> document = ParseText(xml);
    EXPECT_TRUE(document);
    testing::internal::CaptureStderr();
    if (document)
        CheckTreeAttributes(document.get());
    return testing::internal::GetCapturedStderr();
}

using CPairs = std::set<std::pair<std::string, std::string>>;

CPairs TablePairs()
{
    CPairs pairs;
    for (CKnownAttribute const& row : GetKnownAttributes())
        pairs.emplace(row.element, row.attribute);
    return pairs;
}

// The bold words of a roff line: all of ".B word", the odd arguments of ".BR a " b " c".
std::vector<std::string> BoldWords(std::string const& line)
{
    std::vector<std::string> arguments;
    std::regex const argument("\"([^\"]*)\"|(\\S+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), argument); it != std::sregex_iterator(); ++it)
        arguments.push_back((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
    std::vector<std::string> bold;
    for (size_t i = 1; i < arguments.size(); ++i)
        if (arguments[0] == ".B" || (arguments[0] == ".BR" && i % 2 == 1))
            bold.push_back(arguments[i]);
    return bold;
}

// The attributes the manual page's CONFIGURATION section describes: under each ".SS element"
// heading (or ".SS "a, b, c"" for several), the bold words of the line after each ".TP".
CPairs ManualPairs(std::string const& manual)
{
    CPairs pairs;
    std::istringstream lines(manual.substr(manual.find(".SH CONFIGURATION")));
    std::vector<std::string> elements;
    bool term = false;
    std::string heading;
    std::getline(lines, heading);
    for (std::string line; std::getline(lines, line) && line.rfind(".SH", 0) != 0;)
    {
        if (line.rfind(".SS ", 0) == 0)
        {
            elements.clear();
            std::regex const word("[a-z_]+");
            std::string const names = line.substr(4);
            for (auto it = std::sregex_iterator(names.begin(), names.end(), word); it != std::sregex_iterator(); ++it)
                elements.push_back(it->str());
        }
        else if (term)
            for (std::string const& attribute : BoldWords(line))
                for (std::string const& element : elements)
                    pairs.emplace(element, attribute);
        term = line == ".TP";
    }
    return pairs;
}
} // namespace

TEST(KnownAttributes, EveryDocumentedAttributePassesQuietly)
{
    EXPECT_EQ(WarningsFor("<kilnpack version='0.1'>"
                          "<image file='a.dmg' name='A' open_folder='.' template_size='16' finder_records='Both'>"
                          "<folder name='f' x='1' y='2'><file source='s' name='n' required='no' x='1' y='2'/></folder>"
                          "<link target='/Applications' name='l' x='1' y='2'/>"
                          "<view type='icon' x='1' y='2' width='3' height='4' show_toolbar='true' grid='1'"
                          " icon_size='96' text_position='Right' toolbar_width='5' font_size='13' background='b.png'/>"
                          "<view type='icon' text_position='bottom'/>"
                          "</image></kilnpack>"),
              "");
}

TEST(KnownAttributes, TyposAndValuesOutsideTheSetAreNamed)
{
    EXPECT_EQ(WarningsFor("<kilnpack verison='0.1'><image file='a.dmg' name='A' finder_records='modrn'>"
                          "<view type='icon' icon_sise='96' text_position='top'/>"
                          "<folder name='f'><file source='s' name='n' requried='false'/></folder>"
                          "<unknown whatever='1'/>"
                          "</image></kilnpack>"),
              "Warning: 'kilnpack' tag has unknown attribute 'verison' (value '0.1'). Skipping.\n"
              "Warning: 'view' tag has unknown attribute 'icon_sise' (value '96'). Skipping.\n"
              "Warning: 'view' tag attribute 'text_position' has unknown value 'top'.\n"
              "Warning: 'file' tag has unknown attribute 'requried' (value 'false'). Skipping.\n");
}

TEST(KnownAttributes, EveryWordAttributeListsItsValues)
{
    for (CKnownAttribute const& row : GetKnownAttributes())
        EXPECT_EQ(row.kind == EAttributeKind::Word, row.values.size() > 0) << row.element << " " << row.attribute;
}

TEST(KnownAttributes, TheManualPageAndTheReadmeDescribeExactlyTheTable)
{
    CPairs const table = TablePairs();
    ASSERT_TRUE(table.count({"view", "background_color"}));
    EXPECT_EQ(ManualPairs(ReadWholeFile(KILNPACK_SOURCE_DIR "/docs/kilnpack.1")), table);
    // The README's table has a row per element whose text names each of its attributes in backticks.
    std::string const readme = ReadWholeFile(KILNPACK_SOURCE_DIR "/README.md");
    std::istringstream lines(readme);
    std::map<std::string, std::string> rows;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("| `", 0) == 0)
            rows.emplace(line.substr(3, line.find('`', 3) - 3), line);
    for (auto const& [element, attribute] : table)
    {
        ASSERT_TRUE(rows.count(element)) << "no README row for " << element;
        EXPECT_NE(rows[element].find("`" + attribute + "`"), std::string::npos) << element << " " << attribute;
    }
}
