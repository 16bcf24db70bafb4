// KILNPACK_ENGINE end to end: the builtin engine and the default build the image, anything else
// stops the run before any argument is handled.
#include "RunKilnpack.h"

#include "support/TempFolder.h"
#include "support/EnvironmentSetting.h"

#include <gtest/gtest.h>

namespace
{
constexpr char const kConfig[] = "<kilnpack><image file='e.dmg' name='E' template_size='8'/></kilnpack>";
} // namespace

TEST(Engine, BuiltinAndTheDefaultBuildTheImage)
{
    for (char const* engine : {static_cast<char const*>(nullptr), "", "builtin"})
    {
        CEnvironmentSetting setting("KILNPACK_ENGINE", engine);
        CTempFolder directory;
        directory.WriteFile("config.xml", kConfig);
        CRunResult result = RunKilnpack({"config.xml"}, directory.path);
        std::string const shown = engine ? engine : "(unset)";
        EXPECT_EQ(result.status, 0) << shown << "\n" << result.errors;
        EXPECT_NE(result.output.find("Running Command: hdiutil convert \"e.dmg.sparseimage\" -format UDZO"),
                  std::string::npos)
            << shown << "\n"
            << result.output;
        EXPECT_TRUE(std::filesystem::is_regular_file(directory.Join("e.dmg"))) << shown;
    }
}

TEST(Engine, OtherValuesStopTheRunBeforeAnything)
{
    // "hdiutil" names the system's own tools, which only macOS has.
    for (char const* engine : {"hdiutil", "fast", "Builtin", "builtin "})
    {
        CEnvironmentSetting setting("KILNPACK_ENGINE", engine);
        CTempFolder directory;
        directory.WriteFile("config.xml", kConfig);
        CRunResult result = RunKilnpack({"config.xml", "--help"}, directory.path);
        EXPECT_EQ(result.status, 1) << engine;
        EXPECT_EQ(result.output, kBanner) << engine;
        EXPECT_EQ(result.errors, "Error: KILNPACK_ENGINE value '" + std::string(engine) +
                                     "' is not accepted here; use 'builtin' or leave it unset.\n");
        EXPECT_FALSE(std::filesystem::exists(directory.Join("e.dmg"))) << engine;
    }
}
