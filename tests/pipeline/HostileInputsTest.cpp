// The kilnpack program against hostile files and settings: outputs that are special files or
// things that aren't images, inputs that are special files or too large, planted lock files, a
// malformed environment, a kill that must take the running command along, and a signal during
// --dump. Every refusal comes before the first command, and every victim is checked untouched.
#include "ReleasePipelineFixture.h"

#include <sys/sysmacros.h>

namespace
{
namespace fs = std::filesystem;

bool IsFifo(std::string const& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

class HostileInputs : public ReleasePipeline
{
protected:
    // Runs one configuration file; expects exit 1 with `error` among the errors and no command run.
    void ExpectRefused(std::string const& name, std::string const& error)
    {
        CKilnpackProcess run(work.path, {name}, Environment());
        EXPECT_EQ(run.Wait(), 1) << name;
        EXPECT_NE(run.GetErrors().find(error), std::string::npos) << name << "\n" << run.GetErrors();
        EXPECT_EQ(run.GetOutput().find("Running Command"), std::string::npos) << name << "\n"
                                                                              << run.GetOutput();
    }

    std::string WriteImage(std::string const& name, std::string const& attributes,
                           std::string const& content = "")
    {
        return work.WriteFile(name, "<kilnpack><image name='H' template_size='8' " + attributes + ">" +
                                        content +
                                        "<file source='src/b.txt' name='b.txt'/></image></kilnpack>");
    }
};
} // namespace

// A FIFO, a link to a FIFO and a device node of the test's own (as root) are never replaced by
// the image or the preview.
TEST_F(HostileInputs, OutputsThatAreSpecialFilesAreRefused)
{
    std::string const fifo = work.Join("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, work.Join("to-fifo.dmg"));
    WriteImage("fifo.xml", "file='out.fifo'");
    ExpectRefused("fifo.xml",
                  "Error: The output 'out.fifo' is a FIFO, not a regular file; it is not replaced.");
    WriteImage("link.xml", "file='to-fifo.dmg'");
    ExpectRefused(
        "link.xml",
        "Error: The output 'to-fifo.dmg' is a link to a FIFO, not a regular file; it is not replaced.");
    EXPECT_TRUE(IsFifo(fifo));
    if (geteuid() != 0)
        GTEST_SKIP() << "not root: the device node case needs mknod";
    std::string const device = work.Join("full");
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
    WriteImage("device.xml", "file='d.dmg' preview='full'");
    ExpectRefused("device.xml",
                  "Error: The preview 'full' is a device, not a regular file; it is not replaced.");
    EXPECT_TRUE(fs::is_character_file(device));
}

// A build replaces only an earlier image (or preview picture): never a source, the configuration
// file, a file of another kind, or what an earlier image of the same run wrote.
TEST_F(HostileInputs, OutputsThatArentEarlierOutputsAreNeverDestroyed)
{
    std::string const source = ReadWholeFile(work.Join("src/b.txt"));
    WriteImage("source.xml", "file='src/b.txt'");
    ExpectRefused(
        "source.xml",
        "Error: The output 'src/b.txt' is also a source the configuration reads; it is not replaced.");
    std::string const self = WriteImage("self.xml", "file='./self.xml'");
    std::string const selfText = ReadWholeFile(self);
    ExpectRefused("self.xml",
                  "Error: The output './self.xml' is the configuration file; it is not replaced.");
    work.WriteFile("notes.dmg", "my notes");
    WriteImage("notes.xml", "file='notes.dmg'");
    ExpectRefused("notes.xml",
                  "Error: The output 'notes.dmg' exists and is not a disk image; it is not replaced.");
    work.WriteFile("shot.png", "not a picture");
    WriteImage("shot.xml", "file='shot.dmg' preview='shot.png'");
    ExpectRefused("shot.xml",
                  "Error: The preview 'shot.png' exists and is not a PNG picture; it is not replaced.");
    EXPECT_EQ(ReadWholeFile(work.Join("src/b.txt")), source);
    EXPECT_EQ(ReadWholeFile(self), selfText);
    EXPECT_EQ(ReadWholeFile(work.Join("notes.dmg")), "my notes");
    EXPECT_EQ(ReadWholeFile(work.Join("shot.png")), "not a picture");
    EXPECT_FALSE(fs::exists(work.Join("shot.dmg")));

    // Three images of one file (the third through a link): the first is built, the others refused;
    // a rebuild replaces the image.
    work.WriteFile("twice.xml", "<kilnpack><image file='t.dmg' name='One' template_size='8'/>"
                                "<image file='./t.dmg' name='Two' template_size='8'/>"
                                "<image file='here/t.dmg' name='Three' template_size='8'/></kilnpack>");
    fs::create_symlink(".", work.Join("here"));
    CKilnpackProcess twice(work.path, {"twice.xml"}, Environment());
    EXPECT_EQ(twice.Wait(), 1);
    EXPECT_NE(twice.GetErrors().find("Error: The output './t.dmg' is already an output of this "
                                     "configuration; it is not written twice."),
              std::string::npos)
        << twice.GetErrors();
    EXPECT_NE(twice.GetErrors().find("Error: The output 'here/t.dmg' is already an output of this configuration"),
              std::string::npos)
        << twice.GetErrors();
    std::string const dump = work.Join("t.dmg");
    std::string listing;
    ASSERT_EQ(RunCapturing(QuoteForShell(KILNPACK_BINARY) + " --dump " + QuoteForShell(dump), &listing), 0)
        << listing;
    EXPECT_NE(listing.find("Volume name: \"One\""), std::string::npos) << listing;
    CKilnpackProcess rebuilt(work.path, {"config.xml", "config.xml"}, Environment());
    EXPECT_EQ(rebuilt.Wait(), 0) << rebuilt.GetErrors();
}

// The icon, licence texts and the configuration file itself: a FIFO or a folder is refused at once
// with the attribute's own message; an icon above 64 MB and a licence text above 4 MB (sparse
// files) are refused naming the limit.
TEST_F(HostileInputs, InputsThatAreSpecialFilesOrTooLargeAreRefused)
{
    ASSERT_EQ(mkfifo(work.Join("in.fifo").c_str(), 0600), 0);
    fs::create_directories(work.Join("folder.txt"));
    work.WriteFile("big.icns", "icns");
    ASSERT_EQ(truncate(work.Join("big.icns").c_str(), (64 << 20) + 1), 0);
    work.WriteFile("big.txt", "licence");
    ASSERT_EQ(truncate(work.Join("big.txt").c_str(), (4 << 20) + 1), 0);
    auto const license = [](char const* file)
    { return std::string("<license><text language='en_US' file='") + file + "'/></license>"; };
    struct
    {
        std::string attributes, content, error;
    } const cases[] = {
        {"file='i.dmg' icon='in.fifo'", "",
         "Error: Unable to read the volume icon 'in.fifo': not a regular file."},
        {"file='i.dmg' icon='big.icns'", "",
         "Error: Unable to read the volume icon 'big.icns': larger than 64 MB, the most an icon may take."},
        {"file='i.dmg'", license("in.fifo"),
         "Error: Unable to read license file 'in.fifo': not a regular file."},
        {"file='i.dmg'", license("folder.txt"),
         "Error: Unable to read license file 'folder.txt': a folder, not a regular file."},
        {"file='i.dmg'", license("big.txt"),
         "Error: Unable to read license file 'big.txt': larger than 4 MB, the most a licence text may take."},
    };
    int index = 0;
    for (auto const& item : cases)
    {
        std::string const name = "input" + std::to_string(++index) + ".xml";
        WriteImage(name, item.attributes, item.content);
        ExpectRefused(name, item.error);
    }
    ExpectRefused("in.fifo", "Error: Unable to access file 'in.fifo'.");
    EXPECT_FALSE(fs::exists(work.Join("i.dmg")));
    EXPECT_TRUE(Leftovers().empty()) << testing::PrintToString(Leftovers());
}

// A lock file planted beside the output names trees the next build must not remove: outside the
// temporary folder, inside it through a link, or in it but holding a FIFO. Each is left as it was,
// with a warning, and the build goes on.
TEST_F(HostileInputs, PlantedLockFilesLeaveVictimsUntouched)
{
    std::string const victim = work.Join("victim/mnt.ABCDEFGH");
    work.WriteFile("victim/mnt.ABCDEFGH/precious.txt", "keep me");
    fs::create_symlink(work.Join("victim"), temporary + "/link");
    std::string const trap = temporary + "/mnt.Trap0000";
    fs::create_directories(trap);
    work.WriteFile("tmp/mnt.Trap0000/kept.txt", "keep me too");
    ASSERT_EQ(mkfifo((trap + "/pipe").c_str(), 0600), 0);
    std::string const why[] = {"it is not a staging folder in '" + temporary + "'",
                               "it is not a staging folder in '" + temporary + "'",
                               "it holds what a staging folder never holds"};
    std::string const named[] = {victim, temporary + "/link/mnt.ABCDEFGH", trap};
    for (int i = 0; i < 3; ++i)
    {
        work.WriteFile("Out.dmg.lock", "pid 1\nstaging " + named[i] + "\n");
        CKilnpackProcess run(work.path, {"config.xml"}, Environment());
        EXPECT_EQ(run.Wait(), 0) << run.GetErrors();
        EXPECT_NE(run.GetErrors().find("Warning: The lock file '" + image + ".lock' names '" + named[i] +
                                       "', which is left alone: " + why[i] + "."),
                  std::string::npos)
            << run.GetErrors();
        EXPECT_EQ(ReadWholeFile(victim + "/precious.txt"), "keep me");
        EXPECT_EQ(ReadWholeFile(trap + "/kept.txt"), "keep me too");
        EXPECT_TRUE(IsFifo(trap + "/pipe"));
    }
}

// A lock file this user can't open is not taken for "no lock": the build fails, naming it.
TEST_F(HostileInputs, LockThatCantBeOpenedFailsTheBuild)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the build as another user";
    std::string const lock = work.WriteFile("Out.dmg.lock", "pid 1\n");
    ASSERT_EQ(chmod(lock.c_str(), 0600), 0);
    for (auto const& entry : fs::recursive_directory_iterator(work.path))
    {
        if (entry.path() != lock)
        {
            EXPECT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
        }
    }
    ASSERT_EQ(chown(work.path.c_str(), 65534, 65534), 0);
    CKilnpackProcess run(work.path, {"config.xml"}, Environment(), 65534);
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(run.GetErrors().find("Error: Unable to lock '" + lock + "' (Permission denied)."),
              std::string::npos)
        << run.GetErrors();
    EXPECT_EQ(run.GetOutput().find("Running Command"), std::string::npos);
}

// A malformed SOURCE_DATE_EPOCH stops the run before anything (the last second 32-bit Mac dates
// hold is still taken); a relative TMPDIR that begins with "-" is used as an absolute folder and
// left empty.
TEST_F(HostileInputs, EnvironmentIsChecked)
{
    for (char const* value : {"abc", "12abc", "-1", "+5", " 5", "2212122496", "99999999999999999999999"})
    {
        CKilnpackProcess run(work.path, {"config.xml"},
                             Environment({std::string("SOURCE_DATE_EPOCH=") + value}));
        EXPECT_EQ(run.Wait(), 1) << value;
        EXPECT_NE(
            run.GetErrors().find(std::string("Error: SOURCE_DATE_EPOCH value '") + value +
                                 "' is not accepted; use a whole number of seconds since 1970, from 0 to "
                                 "2212122495."),
            std::string::npos)
            << run.GetErrors();
        EXPECT_EQ(run.GetOutput().find("Running Command"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(image));
    CKilnpackProcess last(work.path, {"--version"}, Environment({"SOURCE_DATE_EPOCH=2212122495"}));
    EXPECT_EQ(last.Wait(), 0) << last.GetErrors();

    fs::create_directories(work.Join("-tmp"));
    CKilnpackProcess run(work.path, {"config.xml"}, {"TMPDIR=-tmp"});
    EXPECT_EQ(run.Wait(), 0) << run.GetErrors();
    EXPECT_NE(run.GetOutput().find("-mountpoint \"" + work.path + "/-tmp/mnt."), std::string::npos)
        << run.GetOutput();
    EXPECT_TRUE(fs::is_empty(work.Join("-tmp")));
    EXPECT_TRUE(fs::is_regular_file(image));
}

// Killed with SIGKILL (which it can't pass on), kilnpack takes the running command with it.
TEST_F(HostileInputs, KilledKilnpackTakesItsCommandAlong)
{
    std::string const bin = work.Join("bin");
    // The builtin engine copies in process; the opening rm of a stale output still runs as a command.
    std::string const pidFile = work.Join("rm.pid");
    ASSERT_EQ(mkfifo(work.Join("never").c_str(), 0600), 0);
    work.WriteFile("bin/rm", "#!/bin/sh\necho $$ > '" + pidFile + "'\necho go > '" + work.Join("ready") +
                                 "'\nexec cat '" + work.Join("never") + "'\n");
    fs::permissions(bin + "/rm", fs::perms::owner_all);
    char const* path = std::getenv("PATH");
    CKilnpackProcess run(work.path, {"config.xml"},
                         Environment({"PATH=" + bin + ":" + (path ? path : "/bin")}));
    AwaitReady();
    pid_t const command = pid_t(std::stol(ReadWholeFile(pidFile)));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 1000 + SIGKILL);
    // The kill is sent as kilnpack dies; the command is then gone or a zombie awaiting its reaper.
    bool gone = false;
    for (int attempt = 0; attempt < 1000 && !gone; ++attempt)
    {
        std::string const stat = ReadWholeFile("/proc/" + std::to_string(command) + "/stat");
        size_t const close = stat.rfind(')');
        gone = stat.empty() || (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0);
        if (!gone)
            usleep(10000);
    }
    EXPECT_TRUE(gone) << "the command " << command << " outlived kilnpack";
    if (!gone)
        kill(command, SIGKILL);
}

// A signal during --dump stops the reading at once: exit 128 + N, and nothing more is printed.
TEST_F(HostileInputs, SignalDuringDumpStopsIt)
{
    CKilnpackProcess built(work.path, {"config.xml"}, Environment());
    ASSERT_EQ(built.Wait(), 0) << built.GetErrors();
    CKilnpackProcess dump(work.path, {"--dump", "Out.dmg", "--version"}, PausedAt("dump"));
    AwaitReady();
    dump.Signal(SIGTERM);
    EXPECT_EQ(dump.Wait(), 128 + SIGTERM) << dump.GetErrors();
    EXPECT_EQ(dump.GetOutput().find("Volume name"), std::string::npos) << dump.GetOutput();
    EXPECT_EQ(dump.GetOutput().find("Version"), std::string::npos) << dump.GetOutput();
}
