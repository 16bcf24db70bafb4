// The configuration schema accepts the example and what the code reads, and refuses what it
// doesn't: each broken configuration below differs from a valid one in one place.
#include "support/TempFolder.h"
#include "config/KnownAttributes.h"
#include "support/ConfigSchema.h"

#include <functional>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <map>

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
    CTempFolder directory;
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
    CTempFolder directory;
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

namespace
{
// The attributes the schema gives each element, with their types, read with libxml2: the ones of the
// element's own type and of the attribute groups it refers to.
std::map<std::string, std::map<std::string, std::string>> ReadSchemaAttributes()
{
    std::map<std::string, std::map<std::string, std::string>> result;
    xmlDocPtr document = xmlReadFile(KILNPACK_SOURCE_DIR "/docs/kilnpack.xsd", nullptr, XML_PARSE_NONET);
    if (!document)
        return result;
    auto attributeOf = [](xmlNodePtr node, char const* name)
    {
        xmlChar* value = xmlGetProp(node, reinterpret_cast<xmlChar const*>(name));
        std::string text = value ? reinterpret_cast<char const*>(value) : "";
        xmlFree(value);
        return text;
    };
    auto isNamed = [](xmlNodePtr node, char const* name)
    { return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<xmlChar const*>(name)) == 0; };
    std::map<std::string, std::map<std::string, std::string>> groups;
    std::map<std::string, std::vector<std::string>> groupRefs;
    // Walks one definition: its attributes, and the groups it uses.
    std::function<void(xmlNodePtr, std::string const&, std::map<std::string, std::string>*)> collect =
        [&](xmlNodePtr parent, std::string const& owner, std::map<std::string, std::string>* into)
    {
        for (xmlNodePtr child = parent->children; child; child = child->next)
        {
            if (isNamed(child, "attribute"))
                (*into)[attributeOf(child, "name")] = attributeOf(child, "type");
            else if (isNamed(child, "attributeGroup"))
                groupRefs[owner].push_back(attributeOf(child, "ref"));
            else if (isNamed(child, "complexType"))
                collect(child, owner, into);
        }
    };
    for (xmlNodePtr node = xmlDocGetRootElement(document)->children; node; node = node->next)
    {
        std::string name = node->type == XML_ELEMENT_NODE ? attributeOf(node, "name") : "";
        if (isNamed(node, "attributeGroup"))
            collect(node, "group " + name, &groups[name]);
        else if (isNamed(node, "complexType") || isNamed(node, "element"))
            collect(node, name, &result[name]);
    }
    for (auto const& [owner, refs] : groupRefs)
    {
        for (std::string const& ref : refs)
            result[owner].insert(groups[ref].begin(), groups[ref].end());
    }
    xmlFreeDoc(document);
    return result;
}
} // namespace

TEST(Schema, DescribesExactlyTheAttributesOfTheCodesTable)
{
    auto schema = ReadSchemaAttributes();
    ASSERT_FALSE(schema.empty());
    std::map<std::string, std::map<std::string, std::string>> table;
    for (CKnownAttribute const& row : GetKnownAttributes())
    {
        std::string type = row.kind == EAttributeKind::Boolean ? "boolean"
                           : row.kind == EAttributeKind::Integer ? "integer"
                                                                 : "";
        table[row.element][row.attribute] = type;
    }
    for (auto const& [element, attributes] : table)
    {
        ASSERT_TRUE(schema.count(element)) << element;
        for (auto const& [attribute, type] : attributes)
        {
            ASSERT_TRUE(schema[element].count(attribute)) << element << " " << attribute << " not in the schema";
            if (!type.empty())
            {
                EXPECT_EQ(schema[element][attribute], type) << element << " " << attribute;
            }
        }
        for (auto const& [attribute, type] : schema[element])
            EXPECT_TRUE(attributes.count(attribute)) << element << " " << attribute << " not in the table";
    }
}
