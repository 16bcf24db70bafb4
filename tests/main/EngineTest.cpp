// KILNPACK_ENGINE end to end: the builtin engine and the default build the image, anything else
// stops the run before any argument is handled.
#include "RunKilnpack.h"

#include "config/TempDirectory.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace
{
// Sets KILNPACK_ENGINE (or unsets it for null) while it lives; the run's setting comes back after.
class CEngineSetting
{
public:
    explicit CEngineSetting(char const* value)
    {
        char const* before = std::getenv("KILNPACK_ENGINE");
        hadBefore = before != nullptr;
        if (hadBefore)
            previous = before;
        if (value != nullptr)
            setenv("KILNPACK_ENGINE", value, 1);
        else
            unsetenv("KILNPACK_ENGINE");
    }
    ~CEngineSetting()
    {
        if (hadBefore)
            setenv("KILNPACK_ENGINE", previous.c_str(), 1);
        else
            unsetenv("KILNPACK_ENGINE");
    }
    CEngineSetting(CEngineSetting const&) = delete;
    CEngineSetting& operator=(CEngineSetting const&) = delete;

private:
    bool hadBefore = false;
    std::string previous;
};

constexpr char const kConfig[] = "<kilnpack><image file='e.dmg' name='E' template_size='8'/></kilnpack>";
} // namespace

TEST(Engine, BuiltinAndTheDefaultBuildTheImage)
{
    for (char const* engine : {static_cast<char const*>(nullptr), "", "builtin"})
    {
        CEngineSetting setting(engine);
        CTempDirectory directory;
        directory.WriteFile("config.xml", kConfig);
        CRunResult result = RunKilnpack({"config.xml"}, directory.path);
        std::string const shown = engine ? engine : "(unset)";
        EXPECT_EQ(result.status, 0) << shown << "\n" << result.errors;
        EXPECT_NE(result.output.find("Running Command: hdiutil convert \"e.dmg.sparseimage\" -format UDZO"),
                  std::string::npos)
            << shown << "\n" << result.output;
        EXPECT_TRUE(std::filesystem::is_regular_file(directory.path / "e.dmg")) << shown;
    }
}

TEST(Engine, OtherValuesStopTheRunBeforeAnything)
{
    // "hdiutil" names the system's own tools, which only macOS has.
    for (char const* engine : {"hdiutil", "fast", "Builtin", "builtin "})
    {
        CEngineSetting setting(engine);
        CTempDirectory directory;
        directory.WriteFile("config.xml", kConfig);
        CRunResult result = RunKilnpack({"config.xml", "--help"}, directory.path);
        EXPECT_EQ(result.status, 1) << engine;
        EXPECT_EQ(result.output, kBanner) << engine;
        EXPECT_EQ(result.errors, "Error: KILNPACK_ENGINE value '" + std::string(engine) +
                                     "' is not accepted here; use 'builtin' or leave it unset.\n");
        EXPECT_FALSE(std::filesystem::exists(directory.path / "e.dmg")) << engine;
    }
}
