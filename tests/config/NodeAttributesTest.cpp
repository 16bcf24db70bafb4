#include "support/XmlTestSupport.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace
{
// One element whose attribute "a" holds the given value (already escaped for XML).
std::unique_ptr<CXmlTree> ParseAttribute(std::string const& value)
{
    auto tree = ParseText("<e a=\"" + value + "\"/>");
    EXPECT_NE(tree, nullptr);
    return tree;
}

template <typename T> struct CReadResult
{
    bool found;
    T value;
    std::string errors;
};

// Reads attribute "a" holding the value into a target that starts as initial.
template <typename T> CReadResult<T> ReadAttribute(std::string const& value, T initial)
{
    auto tree = ParseAttribute(value);
    CReadResult<T> result{false, initial, ""};
    CaptureStderr();
    result.found = GetNodeAttribute(GetFirstNode(tree.get()), "a", &result.value);
    result.errors = GetCapturedStderr();
    return result;
}

CReadResult<bool> ReadBoolean(std::string const& value)
{
    return ReadAttribute(value, false);
}

CReadResult<int> ReadInteger(std::string const& value)
{
    return ReadAttribute(value, -777);
}
} // namespace

TEST(TextAttribute, PresentAsciiValueIsStored)
{
    auto tree = ParseText("<e name='Disk &amp; Tools' empty=''/>");
    std::string value = "untouched";
    EXPECT_TRUE(GetNodeAttribute(GetFirstNode(tree.get()), "name", &value));
    EXPECT_EQ(value, "Disk & Tools");
    EXPECT_TRUE(GetNodeAttribute(GetFirstNode(tree.get()), "empty", &value));
    EXPECT_EQ(value, "");
}

TEST(TextAttribute, AbsentOrWrongCaseLeavesTargetUntouchedAndUtf8IsText)
{
    auto tree = ParseText("<e Name='x' accent='caf\xc3\xa9 \xed\x95\x9c \xf0\x9f\x98\x80'/>");
    CXmlNode const* node = GetFirstNode(tree.get());
    std::string value = "untouched";
    CaptureStderr();
    EXPECT_FALSE(GetNodeAttribute(node, "name", &value));
    EXPECT_FALSE(GetNodeAttribute(node, "missing", &value));
    EXPECT_FALSE(GetNodeAttribute(nullptr, "name", &value));
    EXPECT_FALSE(GetNodeAttribute(GetTreeNode(tree.get()), "name", &value)); // the document node
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(value, "untouched");
    EXPECT_TRUE(GetNodeAttribute(node, "accent", &value));
    EXPECT_EQ(value, "caf\xc3\xa9 \xed\x95\x9c \xf0\x9f\x98\x80");
}

// The parser refuses such documents itself; a tree made otherwise is checked all the same.
TEST(TextAttribute, InvalidUtf8IsAnErrorNamingTheAttribute)
{
    CXmlNode node;
    node.typeCode = kXmlNodeElement;
    node.hasInfo = true;
    for (char const* bad : {"caf\xe9", "\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"})
    {
        node.info.attributes["name"] = bad;
        std::string value = "untouched";
        CaptureStderr();
        EXPECT_FALSE(GetNodeAttribute(&node, "name", &value)) << bad;
        EXPECT_EQ(GetCapturedStderr(), "Error: Attribute 'name' is not valid UTF-8.\n");
        EXPECT_EQ(value, "untouched");
        CaptureStderr();
        EXPECT_EQ(GetNodeAttributeOrDefault(&node, "name", 7), 7);
        EXPECT_EQ(GetCapturedStderr(), "Error: Attribute 'name' is not valid UTF-8.\n");
    }
}

TEST(TextAttribute, DefaultFormFallsBackForAbsent)
{
    auto tree = ParseText("<e version='1.0' accent='\xc3\xa9'/>");
    CXmlNode const* node = GetFirstNode(tree.get());
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "version", "0.1"), "1.0");
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "missing", "0.1"), "0.1");
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "accent", "0.1"), "\xc3\xa9");
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "missing", static_cast<char const*>(nullptr)), "");
}

TEST(BooleanAttribute, SixWordsInAnyCaseAreRecognised)
{
    for (char const* word : {"true", "TRUE", "Yes", "1"})
    {
        CReadResult<bool> result = ReadBoolean(word);
        EXPECT_TRUE(result.found) << word;
        EXPECT_TRUE(result.value) << word;
        EXPECT_EQ(result.errors, "") << word;
    }
    for (char const* word : {"false", "False", "NO", "0"})
    {
        CReadResult<bool> result = ReadAttribute<bool>(word, true);
        EXPECT_TRUE(result.found) << word;
        EXPECT_FALSE(result.value) << word;
        EXPECT_EQ(result.errors, "") << word;
    }
}

TEST(BooleanAttribute, OtherTextWarnsInLowerCaseAndLeavesTarget)
{
    struct
    {
        char const* value;
        char const* shown;
    } const cases[] = {{"On", "on"}, {" yes", " yes"}, {"yes ", "yes "},
                       {"", ""},     {"2", "2"},       {"TRUE!", "true!"}};
    for (auto const& item : cases)
    {
        CReadResult<bool> result = ReadBoolean(item.value);
        EXPECT_FALSE(result.found) << item.value;
        EXPECT_FALSE(result.value) << item.value;
        EXPECT_EQ(result.errors, std::string("Warning: Attribute 'a' has unknown boolean value '") +
                                     item.shown + "'. Skipping.\n");
    }
}

TEST(BooleanAttribute, AbsentIsSilentAndUtf8IsShownAsItIs)
{
    auto tree = ParseText("<e accent='s\xc3\xad'/>");
    bool target = true;
    CaptureStderr();
    EXPECT_FALSE(GetNodeAttribute(GetFirstNode(tree.get()), "missing", &target));
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    EXPECT_FALSE(GetNodeAttribute(GetFirstNode(tree.get()), "accent", &target));
    EXPECT_EQ(GetCapturedStderr(),
              "Warning: Attribute 'accent' has unknown boolean value 's\xc3\xad'. Skipping.\n");
    EXPECT_TRUE(target);
    EXPECT_TRUE(GetNodeAttributeOrDefault(GetFirstNode(tree.get()), "missing", true));
}

TEST(BooleanAttribute, DefaultFormWarnsAndKeepsDefault)
{
    auto tree = ParseText("<e a='maybe' b='no'/>");
    CaptureStderr();
    EXPECT_TRUE(GetNodeAttributeOrDefault(GetFirstNode(tree.get()), "a", true));
    EXPECT_FALSE(GetNodeAttributeOrDefault(GetFirstNode(tree.get()), "b", true));
    EXPECT_EQ(GetCapturedStderr(), "Warning: Attribute 'a' has unknown boolean value 'maybe'. Skipping.\n");
}

TEST(IntegerAttribute, LeadingNumberIsReadAndTheRestIgnored)
{
    struct
    {
        char const* value;
        int expected;
    } const cases[] = {{"12", 12},
                       {"-5", -5},
                       {"+7", 7},
                       {"12abc", 12},
                       {"12px", 12},
                       {"0x10", 0},
                       {"  42", 42},
                       {"&#9;\n8 9", 8},
                       {"007", 7},
                       {"-0", 0},
                       {"2147483647", 2147483647},
                       {"-2147483648", -2147483647 - 1}};
    for (auto const& item : cases)
    {
        CReadResult<int> result = ReadInteger(item.value);
        EXPECT_TRUE(result.found) << item.value;
        EXPECT_EQ(result.value, item.expected) << item.value;
        EXPECT_EQ(result.errors, "") << item.value;
    }
}

TEST(IntegerAttribute, TextWithoutLeadingNumberWarnsAndLeavesTarget)
{
    for (char const* value :
         {"abc", "", "   ", "-", "+", "- 5", "x12", "2147483648", "-2147483649", "99999999999999999999"})
    {
        CReadResult<int> result = ReadInteger(value);
        EXPECT_FALSE(result.found) << value;
        EXPECT_EQ(result.value, -777) << value;
        EXPECT_EQ(result.errors, std::string("Warning: Attribute 'a' has unknown integer value '") + value +
                                     "'. Skipping.\n");
    }
}

TEST(IntegerAttribute, DefaultFormUsesDefaultWhenAbsentOrMalformed)
{
    auto tree = ParseText("<e size='abc' count='3'/>");
    CXmlNode const* node = GetFirstNode(tree.get());
    CaptureStderr();
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "missing", 1024), 1024);
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "count", 1024), 3);
    EXPECT_EQ(GetNodeAttributeOrDefault(node, "size", 1024), 1024);
    EXPECT_EQ(GetCapturedStderr(), "Warning: Attribute 'size' has unknown integer value 'abc'. Skipping.\n");
}

TEST(NodeText, Utf8StringsAreTextAndOthersGiveNothing)
{
    std::string target = "untouched";
    EXPECT_FALSE(StringGetValue(nullptr, &target));
    std::string latin1 = "caf\xe9";
    EXPECT_FALSE(StringGetValue(&latin1, &target));
    EXPECT_EQ(target, "untouched");
    std::string accented = "caf\xc3\xa9";
    EXPECT_TRUE(StringGetValue(&accented, &target));
    EXPECT_EQ(target, accented);
    std::string plain = "plain";
    EXPECT_TRUE(StringGetValue(&plain, &target));
    EXPECT_EQ(target, "plain");

    auto tree = ParseText("<caf\xc3\xa9/>");
    EXPECT_EQ(GetNodeType(GetFirstNode(tree.get())), "caf\xc3\xa9");
    EXPECT_EQ(GetNodeType(nullptr), "");
    EXPECT_EQ(GetTreeNode(nullptr), nullptr);
}
