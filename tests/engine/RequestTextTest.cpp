// The text of each request, as the pipeline has always echoed it and the shell runs it on macOS.
#include "engine/CommandText.h"
#include "engine/DiskImageEngine.h"
#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

TEST(QuoteArgument, EscapesExactlyTheFourSpecialCharactersAndTheShellSeesTheValue)
{
    EXPECT_EQ(QuoteArgument("/Volumes/mnt.ab12CD34/Read Me"), "\"/Volumes/mnt.ab12CD34/Read Me\"");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a\"b`c$d\\e"), "\"a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(QuoteArgument("'!*?~ &;|<>"), "\"'!*?~ &;|<>\"");
    for (std::string value : {"plain", "with blank", "a\"b`c$d\\e", "\\", "", "x\\y\\\"", "'single'"})
    {
        CTempFolder folder;
        std::string const out = folder.path + "/out";
        ASSERT_EQ(RunShell("printf '%s' " + QuoteArgument(value) + " > " + QuoteArgument(out)), 0);
        EXPECT_EQ(ReadWholeFile(out), value);
    }
}

TEST(RequestText, EveryRequestHasItsCommandText)
{
    CFinderInfo info{};
    info[8] = 0x40;
    info[31] = 0xAB;
    struct
    {
        CEngineRequest request;
        char const* text;
    } const cases[] = {
        {CRemoveRequest{"./-x.dmg"}, "rm \"./-x.dmg\""},
        {CCreateRequest{"Kiln Vol", 20, "/out/Disk.dmg.sparseimage"},
         "hdiutil create -type SPARSE -fs HFS+ -volname \"Kiln Vol\" -size 20m \"/out/Disk.dmg.sparseimage\""},
        {CCreateRequest{"a\"$", -5, "./-x.sparseimage"},
         "hdiutil create -type SPARSE -fs HFS+ -volname \"a\\\"\\$\" -size -5m \"./-x.sparseimage\""},
        {CAttachRequest{"d.sparseimage", "/tmp/mnt.AbCd1234"},
         "hdiutil attach \"d.sparseimage\" -noverify -noautoopen -mountpoint \"/tmp/mnt.AbCd1234\""},
        {CDetachRequest{"/tmp/mnt.AbCd1234", false}, "hdiutil detach \"/tmp/mnt.AbCd1234\""},
        {CDetachRequest{"/tmp/mnt.AbCd1234", true}, "hdiutil detach \"/tmp/mnt.AbCd1234\" -force"},
        {CResizeRequest{"d.sparseimage"}, "hdiutil resize -sectors min \"d.sparseimage\""},
        {CConvertRequest{"d.sparseimage", FindImageFormat("udzo"), "d.dmg"},
         "hdiutil convert \"d.sparseimage\" -format UDZO -imagekey zlib-level=9 -o \"d.dmg\""},
        {CConvertRequest{"d.sparseimage", FindImageFormat("ULMO"), "d.dmg"},
         "hdiutil convert \"d.sparseimage\" -format ULMO -o \"d.dmg\""},
        {CBlessRequest{"/tmp/mnt.AbCd1234/Apps"}, "bless --openfolder \"/tmp/mnt.AbCd1234/Apps\""},
        {CFinderInfoRequest{info, "/m/Read `Me`"},
         "xattr -s -x -w com.apple.FinderInfo 00000000000000004000000000000000000000000000000000000000000000AB "
         "\"/m/Read \\`Me\\`\""},
        {CRetinaJoinRequest{"/m/bg.png", "/m/bg@2x.png", "/m/bg.tiff"},
         "tiffutil -cathidpicheck \"/m/bg.png\" \"/m/bg@2x.png\" -out \"/m/bg.tiff\""},
        {CMakeFolderRequest{"-Apps"}, "mkdir \"./-Apps\""},
        {CMakeFolderRequest{"/m/Apps"}, "mkdir \"/m/Apps\""},
        {CCopyRequest{"--version", "/m/-copy", true}, "cp -r \"./--version\" \"/m/-copy\""},
        {CCopyRequest{"-i.icns", "/m/.VolumeIcon.icns", false}, "cp \"./-i.icns\" \"/m/.VolumeIcon.icns\""},
        {CLinkRequest{"-n", "/m/-link"}, "ln -s -- \"-n\" \"/m/-link\""},
        {CLinkRequest{"/Applications", "/m/Applications"}, "ln -s \"/Applications\" \"/m/Applications\""},
    };
    for (auto const& each : cases)
        EXPECT_EQ(FormatRequestText(each.request), each.text);
}

TEST(PerformRequest, EchoesTheTextAndGivesTheEngineStatus)
{
    struct CAnswering : CDiskImageEngine
    {
        int Run(CEngineRequest const& request) override { return std::holds_alternative<CResizeRequest>(request); }
        bool MakeMountPoint(std::string*, std::string*) override { return false; }
        void SetLicence(std::vector<CUdifResource>) override {}
        bool AddLicence(std::string const&, std::string*) override { return true; }
        EVolumeEntry LookUp(std::string const&) override { return EVolumeEntry::None; }
        bool ReadFile(std::string const&, std::vector<uint8_t>*, std::string*) override { return false; }
        bool WriteFile(std::string const&, std::vector<uint8_t>, std::string*) override { return false; }
        CFinderInfo ReadFinderInfo(std::string const&) override { return {}; }
        bool MakeAlias(std::string const&, std::string const&, CAliasHandle*, std::string*) override { return false; }
    } engine;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PerformRequest(engine, CDetachRequest{"/m", false}));
    EXPECT_FALSE(PerformRequest(engine, CResizeRequest{"a b"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Running Command: hdiutil detach \"/m\"\nRunning Command: hdiutil resize -sectors min \"a b\"\n");
}
