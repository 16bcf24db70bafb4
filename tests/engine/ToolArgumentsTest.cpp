#include "engine/ToolArguments.h"

#include <gtest/gtest.h>

TEST(ToolArgumentsTest, OptionsComeInAnyOrderAroundTheOperand)
{
    CToolArguments arguments;
    std::string error;
    std::vector<std::string> argv = {"hdiutil",     "attach", "-noverify",  "a b.sparseimage",
                                     "-mountpoint", "/m",     "-noautoopen"};
    ASSERT_TRUE(
        ParseToolArguments(argv, 2, {"-mountpoint"}, {"-noverify", "-noautoopen"}, &arguments, &error));
    EXPECT_EQ(arguments.operands, std::vector<std::string>{"a b.sparseimage"});
    EXPECT_EQ(arguments.Value("-mountpoint"), "/m");
    EXPECT_TRUE(arguments.Has("-noverify"));
    EXPECT_TRUE(arguments.Has("-noautoopen"));
}

TEST(ToolArgumentsTest, UnknownOptionsAndMissingValuesAreRefused)
{
    CToolArguments arguments;
    std::string error;
    EXPECT_FALSE(
        ParseToolArguments({"hdiutil", "detach", "/m", "-quiet"}, 2, {}, {"-force"}, &arguments, &error));
    EXPECT_EQ(error, "unknown option -quiet");
    EXPECT_FALSE(ParseToolArguments({"hdiutil", "convert", "p", "-o"}, 2, {"-o"}, {}, &arguments, &error));
    EXPECT_EQ(error, "option -o needs a value");
}

TEST(ToolArgumentsTest, SizesTakeHdiutilUnits)
{
    unsigned long long bytes = 0;
    std::string error;
    ASSERT_TRUE(ParseImageSize("100m", &bytes, &error)) << error;
    EXPECT_EQ(bytes, 100ull << 20);
    ASSERT_TRUE(ParseImageSize("2G", &bytes, &error)) << error;
    EXPECT_EQ(bytes, 2ull << 30);
    ASSERT_TRUE(ParseImageSize("512k", &bytes, &error)) << error;
    EXPECT_EQ(bytes, 512ull << 10);
    ASSERT_TRUE(ParseImageSize("4096", &bytes, &error)) << error;
    EXPECT_EQ(bytes, 4096u);
}

TEST(ToolArgumentsTest, ZeroNegativeAndMalformedSizesAreRefused)
{
    unsigned long long bytes = 0;
    std::string error;
    EXPECT_FALSE(ParseImageSize("0m", &bytes, &error));
    EXPECT_NE(error.find("greater than zero"), std::string::npos);
    EXPECT_FALSE(ParseImageSize("-5m", &bytes, &error));
    EXPECT_NE(error.find("greater than zero"), std::string::npos);
    for (char const* text : {"", "m", "10x", "10mb", "1.5m", " 10m"})
    {
        EXPECT_FALSE(ParseImageSize(text, &bytes, &error)) << text;
        EXPECT_NE(error.find("invalid size"), std::string::npos) << text;
    }
    EXPECT_FALSE(ParseImageSize("99999999999999999999m", &bytes, &error));
    EXPECT_NE(error.find("too large"), std::string::npos);
    EXPECT_FALSE(ParseImageSize("17179869184t", &bytes, &error)); // beyond 64 bits
    EXPECT_NE(error.find("too large"), std::string::npos);
}
