#include "pipeline/ContainerContent.h"
#include "pipeline/FolderNames.h"
#include "support/ImageTestSupport.h"

#include <fstream>
#include <set>
#include <unistd.h>

namespace
{
struct CWalk
{
    bool result;
    std::string output;
    std::string errors;
};

CWalk Walk(std::string const& xml, std::string const& containerPath)
{
    CConfigSnippet snippet(xml);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bool result = ProcessContainer(snippet.Root(), containerPath.c_str(), nullptr, nullptr);
    std::string errors = testing::internal::GetCapturedStderr();
    return {result, testing::internal::GetCapturedStdout(), errors};
}

std::unique_ptr<CDesktopDatabase> ReadStore(std::string const& folder)
{
    auto database = std::make_unique<CDesktopDatabase>();
    database->ReadFromDisk((folder + "/.DS_Store").c_str());
    return database;
}

bool Exists(std::string const& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::set<std::string> Entries(std::string const& folder)
{
    std::set<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}
} // namespace

TEST(ContainerContent, CommandTextsAndEchoInDocumentOrder)
{
    CTempFolder volume;
    CFakeRunner runner;
    CWalk walk = Walk("<image><file source='docs/Read Me.txt' name='Read Me'/><folder name='Apps'>"
                      "<link target='/Applications' name='Applications'/></folder></image>",
                      volume.path);
    EXPECT_TRUE(walk.result);
    EXPECT_EQ(walk.errors, "");
    std::vector<std::string> expected = {
        "cp -r \"docs/Read Me.txt\" \"" + volume.path + "/Read Me\"",
        "mkdir \"" + volume.path + "/Apps\"",
        "ln -s \"/Applications\" \"" + volume.path + "/Apps/Applications\"",
    };
    EXPECT_EQ(runner.commands, expected);
    EXPECT_EQ(walk.output, "Running Command: " + expected[0] + "\nRunning Command: " + expected[1] +
                               "\nRunning Command: " + expected[2] + "\n");
    EXPECT_FALSE(Exists(volume.path + "/.DS_Store"));
}

TEST(ContainerContent, MissingAttributesReportTheFirstOnly)
{
    CTempFolder volume;
    CFakeRunner runner;
    CWalk walk = Walk("<image><folder/><file/><file source='a'/><link/><link target='t'/>"
                      "<file name='n' source='s'/></image>",
                      volume.path);
    EXPECT_FALSE(walk.result);
    EXPECT_EQ(walk.errors, "Error: 'folder' tag required attribute 'name' missing.\n"
                           "Error: 'file' tag required attribute 'source' missing.\n"
                           "Error: 'file' tag required attribute 'name' missing.\n"
                           "Error: 'link' tag required attribute 'target' missing.\n"
                           "Error: 'link' tag required attribute 'name' missing.\n");
    // The walk goes on after failures.
    EXPECT_EQ(runner.commands, std::vector<std::string>{"cp -r \"s\" \"" + volume.path + "/n\""});
}

TEST(ContainerContent, FailedCommandsAndTheirMessages)
{
    CTempFolder volume;
    CFakeRunner runner;
    runner.FailWhen("mkdir");
    runner.FailWhen("cp");
    runner.FailWhen("ln");
    CWalk walk = Walk("<image><folder name='F' x='4'><file source='inner' name='i'/></folder>"
                      "<file source='opt' name='o' required='false'/><file source='src' name='s'/>"
                      "<link target='tgt' name='l'/></image>",
                      volume.path);
    EXPECT_FALSE(walk.result);
    EXPECT_EQ(walk.errors, "Error: Unable to create folder '" + volume.path + "/F'.\n" +
                               "Error: Error copying file 'src' to '" + volume.path + "/s'.\n" +
                               "Error: Error creating link to 'tgt' at '" + volume.path + "/l'.\n");
    // The failed folder's children are skipped, yet its icon position is kept.
    EXPECT_EQ(runner.commands.size(), 4u);
    EXPECT_TRUE(HasRecord(*ReadStore(volume.path), "F", kLocation));
}

TEST(ContainerContent, OptionalCopyFailureIsSilentSuccess)
{
    CTempFolder volume;
    CFakeRunner runner;
    runner.FailWhen("cp");
    CWalk walk = Walk("<image><file source='missing' name='m' required='no'/></image>", volume.path);
    EXPECT_TRUE(walk.result);
    EXPECT_EQ(walk.errors, "");
    EXPECT_EQ(runner.commands.size(), 1u);
}

TEST(ContainerContent, UnknownChildDrawsWarningOnly)
{
    CTempFolder volume;
    CFakeRunner runner;
    CWalk walk = Walk("<image><File source='a' name='b'/>stray</image>", volume.path);
    EXPECT_TRUE(walk.result);
    EXPECT_EQ(walk.errors, "Warning: Unknown container child tag 'File'.\n"
                           "Warning: Unknown container child tag 'stray'.\n");
    EXPECT_TRUE(runner.commands.empty());
}

TEST(ContainerContent, NamesThatLeaveTheFolderAreRefused)
{
    CTempFolder volume;
    CFakeRunner runner;
    CWalk walk = Walk("<image><folder name='..' x='1'/><file source='s' name='' x='1'/>"
                      "<link target='t' name='a/b' x='1'/><file source='s' name='.'/></image>",
                      volume.path);
    EXPECT_FALSE(walk.result);
    EXPECT_EQ(
        walk.errors,
        "Error: 'folder' tag attribute 'name' value '..' is not a single file name (it must not be empty, "
        "'.' or '..', nor hold '/').\n"
        "Error: 'file' tag attribute 'name' value '' is not a single file name (it must not be empty, '.' "
        "or '..', nor hold '/').\n"
        "Error: 'link' tag attribute 'name' value 'a/b' is not a single file name (it must not be empty, "
        "'.' or '..', nor hold '/').\n"
        "Error: 'file' tag attribute 'name' value '.' is not a single file name (it must not be empty, '.' "
        "or '..', nor hold '/').\n");
    EXPECT_TRUE(runner.commands.empty());
    EXPECT_FALSE(Exists(volume.path + "/.DS_Store"));
}

// Window settings of a folder live in its parent's database, icon positions in the folder's own;
// every written database carries the marker.
TEST(ContainerContent, RecordsAreSplitBetweenFolderAndParent)
{
    CTempFolder volume;
    CWalk walk = Walk("<image><view type='icon' font_size='11'/>"
                      "<folder name='Outer'><view type='icon' x='1'/>"
                      "<folder name='Inner'><view type='icon' font_size='13'/></folder></folder>"
                      "<folder name='Plain'><folder name='Deep'/></folder></image>",
                      volume.path);
    ASSERT_TRUE(walk.result) << walk.errors;

    auto root = ReadStore(volume.path);
    EXPECT_TRUE(HasRecord(*root, ".", kTextSize));
    EXPECT_TRUE(HasRecord(*root, "Outer", kWindow));
    EXPECT_TRUE(HasRecord(*root, ".", kMarker));
    EXPECT_EQ(root->records.size(), 5u); // icvt, fwi0, icsp, icgo, QRVL

    auto outer = ReadStore(volume.path + "/Outer");
    EXPECT_TRUE(HasRecord(*outer, "Inner", kTextSize));
    EXPECT_TRUE(HasRecord(*outer, ".", kMarker));
    EXPECT_EQ(outer->records.size(), 2u);

    EXPECT_FALSE(Exists(volume.path + "/Outer/Inner/.DS_Store"));
    EXPECT_FALSE(Exists(volume.path + "/Plain/.DS_Store"));
}

// The background picture of a sub-folder is aliased there, its records go to the parent.
TEST(ContainerContent, BackgroundOfSubFolderIsLookedUpThere)
{
    CStandInVolume volume;
    ASSERT_TRUE(volume.attached);
    std::string const& root = volume.mountPoint;
    CTempFolder source;
    std::ofstream(source.path + "/back.png") << "picture";
    CWalk walk = Walk(
        "<image><folder name='Sub'><view type='icon' background='early.png'/><file source='" + source.path +
            "/back.png' name='back.png' x='3'/><view type='icon' background='back.png'/></folder>"
            "</image>",
        root);
    EXPECT_FALSE(walk.result); // the view before the copy fails, the walk goes on
    EXPECT_EQ(walk.errors, "Error: Unable to link to image '" + root +
                               "/Sub/early.png'. Make sure the view line appears after the file is copied to "
                               "the image.\n");
    auto rootStore = ReadStore(root);
    EXPECT_TRUE(HasRecord(*rootStore, "Sub", MakeFourCharCode("pict")));
    EXPECT_TRUE(HasRecord(*rootStore, "Sub", MakeFourCharCode("BKGD")));
    EXPECT_TRUE(HasRecord(*ReadStore(root + "/Sub"), "back.png", kLocation));
}

// Names holding the shell's special characters reach the disk exactly and run nothing.
TEST(ContainerContent, SpecialCharactersAreQuotedForTheShell)
{
    CTempFolder volume;
    CTempFolder source;
    std::vector<std::string> names = {"dq\"x", "bq`touch pwned1`", "dollar$(touch pwned2)$HOME",
                                      "back\\slash\\", "all \"`$\\ mixed"};
    std::string xml = "<image>";
    for (size_t i = 0; i < names.size(); ++i)
    {
        std::string escaped;
        for (char c : names[i])
            escaped += c == '"' ? std::string("&quot;") : std::string(1, c);
        std::ofstream(source.path + "/" + names[i]) << "content " << i;
        xml += "<file source=\"" + source.path + "/" + escaped + "\" name=\"f-" + escaped + "\"/>";
        xml += "<folder name=\"d-" + escaped + "\"/>";
        xml += "<link target=\"" + escaped + "\" name=\"l-" + escaped + "\"/>";
    }
    xml += "</image>";

    std::string workingFolder = std::filesystem::current_path().string();
    std::filesystem::current_path(volume.path);
    CWalk walk = Walk(xml, volume.path);
    std::filesystem::current_path(workingFolder);
    ASSERT_TRUE(walk.result) << walk.errors;

    std::set<std::string> expected;
    for (size_t i = 0; i < names.size(); ++i)
    {
        expected.insert("f-" + names[i]);
        expected.insert("d-" + names[i]);
        expected.insert("l-" + names[i]);
        std::ifstream copied(volume.path + "/f-" + names[i]);
        std::string word, number;
        copied >> word >> number;
        EXPECT_EQ(number, std::to_string(i)) << names[i];
        EXPECT_TRUE(std::filesystem::is_directory(volume.path + "/d-" + names[i])) << names[i];
        EXPECT_EQ(std::filesystem::read_symlink(volume.path + "/l-" + names[i]).string(), names[i]);
    }
    EXPECT_EQ(Entries(volume.path), expected);
    EXPECT_EQ(Entries(source.path).size(), names.size());
}

TEST(ContainerContent, CopiedDesktopDatabaseIsKeptOrReplacedWithAWarning)
{
    CTempFolder source;
    std::ofstream(source.path + "/custom") << "made elsewhere";
    std::string const copy = "<file source='" + source.path + "/custom' name='.DS_Store'/>";

    // Nothing of kilnpack's own to store: the copied file stays as it is, without a word.
    CTempFolder kept;
    CWalk quiet = Walk("<image>" + copy + "</image>", kept.path);
    ASSERT_TRUE(quiet.result) << quiet.errors;
    EXPECT_EQ(quiet.errors, "");
    std::ifstream keptFile(kept.path + "/.DS_Store");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keptFile), {}), "made elsewhere");

    // An icon position to store: the copied file is replaced, and the user is told.
    CTempFolder replaced;
    CWalk loud = Walk("<image>" + copy + "<folder name='Apps' x='5'/></image>", replaced.path);
    ASSERT_TRUE(loud.result) << loud.errors;
    EXPECT_EQ(loud.errors,
              "Warning: The view settings replace the existing file '" + replaced.path + "/.DS_Store'.\n");
    EXPECT_TRUE(HasRecord(*ReadStore(replaced.path), "Apps", kLocation));
}

// Names the volume takes for one (letter case; composed and decomposed forms) never merge, and a link followed by an item of the same name never leads a copy onto the
// build machine's files.
TEST(ContainerContent, NamesTheVolumeTakesForOneAreRefused)
{
    CFolderNames names;
    std::string taken;
    EXPECT_TRUE(names.Claim("Caf\xc3\xa9", &taken)); // é as one character
    EXPECT_FALSE(names.Claim("CAFE\xcc\x81", &taken)); // E and a combining acute accent
    EXPECT_EQ(taken, "Caf\xc3\xa9");
    EXPECT_TRUE(names.Claim("Cafe", &taken));
    EXPECT_TRUE(names.Claim("Caf\xc3\xa8", &taken)); // another accent is another name

    CTempFolder volume;
    CTempFolder host;
    CTempFolder source;
    std::ofstream(host.path + "/precious") << "keep me";
    std::ofstream(source.path + "/payload") << "overwrite";
    std::string const file = "<file source='" + source.path + "/payload' ";
    CWalk walk = Walk("<image>"
                      "<link target='" + host.path + "/precious' name='evil' x='1'/>" +
                          file + "name='evil' x='2'/>" +
                          "<link target='elsewhere' name='evil'/>"
                          "<folder name='Docs'/>" + file + "name='docs'/>" + file + "name='fresh'/>"
                          "</image>",
                      volume.path);
    EXPECT_FALSE(walk.result);
    std::string const tail = "' in '" + volume.path + "'; it is not created.\n";
    EXPECT_EQ(walk.errors, "Error: 'file' tag name 'evil' is the same on the volume as the earlier item 'evil" + tail +
                               "Error: 'link' tag name 'evil' is the same on the volume as the earlier item 'evil" +
                               tail + "Error: 'file' tag name 'docs' is the same on the volume as the earlier item 'Docs" +
                               tail);
    std::ifstream precious(host.path + "/precious");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(precious), {}), "keep me");
    EXPECT_EQ(std::filesystem::read_symlink(volume.path + "/evil").string(), host.path + "/precious");
    EXPECT_EQ(Entries(volume.path), (std::set<std::string>{"evil", "Docs", "fresh", ".DS_Store"}));
    // The refused item's icon position doesn't replace the first one's.
    std::vector<unsigned char> location = BlobOf(*ReadStore(volume.path), "evil", kLocation);
    ASSERT_EQ(location.size(), 16u);
    EXPECT_EQ(location[3], 1);

    // The composed and decomposed forms of one name, as a configuration gives them.
    CTempFolder accents;
    CWalk forms = Walk("<image><folder name='Caf\xc3\xa9'/><folder name='CAFE\xcc\x81'/></image>", accents.path);
    EXPECT_FALSE(forms.result);
    EXPECT_EQ(forms.errors, "Error: 'folder' tag name 'CAFE\xcc\x81' is the same on the volume as the earlier item "
                            "'Caf\xc3\xa9' in '" + accents.path + "'; it is not created.\n");
    EXPECT_EQ(Entries(accents.path), std::set<std::string>{"Caf\xc3\xa9"});
}

// A value that begins with "-" is a path to every command, never an option; a link keeps its text.
TEST(ContainerContent, ValuesThatLookLikeOptionsStayPaths)
{
    CTempFolder volume;
    CTempFolder work;
    std::ofstream(work.path + "/--version") << "a file named like an option";
    std::string const workingFolder = std::filesystem::current_path().string();
    std::filesystem::current_path(work.path);
    CWalk walk = Walk("<image><file source='--version' name='-copy'/><folder name='-dir'/>"
                      "<link target='-n' name='-link'/></image>",
                      volume.path);
    std::filesystem::current_path(workingFolder);
    ASSERT_TRUE(walk.result) << walk.errors;
    EXPECT_NE(walk.output.find("cp -r \"./--version\""), std::string::npos) << walk.output;
    std::ifstream copied(volume.path + "/-copy");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), "a file named like an option");
    EXPECT_TRUE(std::filesystem::is_directory(volume.path + "/-dir"));
    EXPECT_EQ(std::filesystem::read_symlink(volume.path + "/-link").string(), "-n");
}

TEST(ContainerContent, BackgroundThatIsAFolderIsRefusedLikeAMissingPicture)
{
    CStandInVolume volume;
    ASSERT_TRUE(volume.attached);
    std::string const& root = volume.mountPoint;
    CWalk walk = Walk("<image><folder name='pictures'/><view type='icon' background='pictures'/></image>", root);
    EXPECT_FALSE(walk.result);
    EXPECT_EQ(walk.errors, "Error: Unable to link to image '" + root +
                               "/pictures'. Make sure the view line appears after the file is copied to "
                               "the image.\n");
    EXPECT_FALSE(Exists(root + "/.DS_Store"));
}

// A link named like the desktop database is replaced by it, never written through.
TEST(ContainerContent, DesktopDatabaseNeverWritesThroughALink)
{
    CTempFolder volume;
    CTempFolder host;
    std::ofstream(host.path + "/precious") << "keep me";
    CWalk walk = Walk("<image><link target='" + host.path + "/precious' name='.DS_Store'/><folder name='A' x='1'/></image>",
                      volume.path);
    EXPECT_TRUE(walk.result) << walk.errors;
    EXPECT_EQ(walk.errors, "Warning: The view settings replace the existing file '" + volume.path + "/.DS_Store'.\n");
    std::ifstream precious(host.path + "/precious");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(precious), {}), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(volume.path + "/.DS_Store"));
    EXPECT_TRUE(HasRecord(*ReadStore(volume.path), "A", kLocation));
}
