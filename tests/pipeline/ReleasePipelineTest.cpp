// The kilnpack program in a release pipeline: exit status, signals in each phase, what a killed run
// leaves and the next run removes, two runs for one output, and byte-identical reproducible builds.
// Phases are stopped through a handshake (a FIFO the program writes to when it reaches the phase,
// or a stand-in `cp` that does), never by timing.
#include "support/ImageTestSupport.h"
#include "support/FsckHfs.h"

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;
// One kilnpack process started in a work folder with its own TMPDIR and extra environment.
class CKilnpackProcess
{
public:
    // `user`: run as that user ID (the test must be root then); -1 runs as the test's own user.
    CKilnpackProcess(std::string const& work, std::vector<std::string> const& arguments,
                     std::vector<std::string> const& environment, int user = -1)
        : m_work(work)
    {
        std::string const out = work + "/run" + std::to_string(++s_count);
        m_outputPath = out + ".out";
        m_errorsPath = out + ".err";
        m_pid = fork();
        if (m_pid == 0)
        {
            int output = open(m_outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int errors = open(m_errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (output < 0 || errors < 0 || chdir(work.c_str()) != 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0)
                _exit(126);
            if (user >= 0 && (setgroups(0, nullptr) != 0 || setgid(gid_t(user)) != 0 || setuid(uid_t(user)) != 0))
                _exit(125);
            for (std::string const& setting : environment)
                putenv(strdup(setting.c_str()));
            std::vector<char*> argv{const_cast<char*>(KILNPACK_BINARY)};
            for (std::string const& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    // Exit status, or 1000 + signal when it was killed.
    int Wait()
    {
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    void Signal(int signalNumber) { kill(m_pid, signalNumber); }
    pid_t GetPid() const { return m_pid; }
    std::string GetErrors() const { return ReadWholeFile(m_errorsPath); }
    std::string GetOutput() const { return ReadWholeFile(m_outputPath); }

private:
    static inline int s_count = 0;
    std::string m_work;
    std::string m_outputPath;
    std::string m_errorsPath;
    pid_t m_pid = -1;
};

class ReleasePipeline : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(work.path.empty());
        temporary = work.path + "/tmp";
        fs::create_directories(temporary);
        fs::create_directories(work.path + "/src/Folder");
        std::ofstream(work.path + "/src/Folder/a.txt") << "first file\n";
        std::ofstream(work.path + "/src/b.txt") << std::string(300000, 'b');
        image = work.path + "/Out.dmg";
        WriteConfig("config.xml", image);
        ASSERT_EQ(mkfifo((work.path + "/ready").c_str(), 0600), 0);
    }

    void WriteConfig(std::string const& name, std::string const& output)
    {
        std::ofstream(work.path + "/" + name)
            << "<kilnpack><image file='" << output << "' name='Trust' template_size='8'>\n"
            << "  <file source='src/Folder' name='Folder' x='10' y='20'/>\n"
            << "  <file source='src/b.txt' name='b.txt'/>\n"
            << "  <link target='/Applications' name='Applications'/>\n"
            << "  <view type='icon' width='300' height='200' background='b.txt'/>\n"
            << "</image></kilnpack>\n";
    }

    std::vector<std::string> Environment(std::vector<std::string> extra = {}) const
    {
        extra.push_back("TMPDIR=" + temporary);
        return extra;
    }

    std::vector<std::string> PausedAt(char const* phase) const
    {
        return Environment({std::string("KILNPACK_TEST_PAUSE_PHASE=") + phase,
                            "KILNPACK_TEST_PAUSE_FIFO=" + work.path + "/ready"});
    }

    // Blocks until the process under test has reached its pause point and written to the FIFO.
    void AwaitReady()
    {
        int fd = open((work.path + "/ready").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        char byte = 0;
        EXPECT_EQ(read(fd, &byte, 1), 1);
        close(fd);
    }

    // Everything a build may make beside the output or under TMPDIR, apart from the finished image.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> found;
        for (auto const& entry : fs::directory_iterator(temporary))
            found.push_back(entry.path().string());
        for (auto const& entry : fs::directory_iterator(work.path))
        {
            std::string const name = entry.path().filename().string();
            if (name.rfind("Out.dmg", 0) == 0 && name != "Out.dmg")
                found.push_back(name);
        }
        return found;
    }

    CTempFolder work;
    std::string temporary;
    std::string image;
};
} // namespace

TEST_F(ReleasePipeline, ExitStatusPerFailureKind)
{
    CKilnpackProcess built(work.path, {"config.xml"}, Environment());
    EXPECT_EQ(built.Wait(), 0) << built.GetErrors();
    EXPECT_TRUE(fs::is_regular_file(image));
    ExpectDmgVolumeSound(image);

    std::ofstream(work.path + "/version.xml") << "<kilnpack version='2.0'><image file='v.dmg' name='V'/></kilnpack>";
    std::ofstream(work.path + "/missing-source.xml")
        << "<kilnpack><image file='m.dmg' name='M' template_size='8'><file source='nothing' name='n'/></image>"
           "</kilnpack>";
    std::ofstream(work.path + "/broken.xml") << "<kilnpack>";
    std::ofstream(work.path + "/not.DS_Store") << "not a desktop database";
    struct
    {
        std::vector<std::string> arguments;
        int status;
    } const cases[] = {
        {{"--help"}, 0},
        {{"--version"}, 0},
        {{}, 0},
        {{"version.xml"}, 1},
        {{"missing-source.xml"}, 1},
        {{"broken.xml", "--version"}, 1},
        {{"no-such.xml"}, 1},
        {{"--dump", "not.DS_Store"}, 1},
        {{"config.xml", "version.xml", "config.xml"}, 1},
    };
    for (auto const& item : cases)
    {
        CKilnpackProcess run(work.path, item.arguments, Environment());
        EXPECT_EQ(run.Wait(), item.status) << (item.arguments.empty() ? "" : item.arguments[0]) << run.GetErrors();
    }
    EXPECT_FALSE(fs::exists(work.path + "/m.dmg"));
    EXPECT_TRUE(Leftovers().empty());
}

// A stand-in `cp` first on the search path tells the test it runs, then blocks; the signal must
// reach it through kilnpack, and everything the build made must be gone afterwards.
TEST_F(ReleasePipeline, SignalDuringCopyStopsTheCommandAndCleansUp)
{
    std::string const bin = work.path + "/bin";
    fs::create_directories(bin);
    std::ofstream(bin + "/cp") << "#!/bin/sh\necho go > '" << work.path << "/ready'\nexec cat '" << work.path
                               << "/never'\n";
    fs::permissions(bin + "/cp", fs::perms::owner_all);
    ASSERT_EQ(mkfifo((work.path + "/never").c_str(), 0600), 0);
    char const* path = std::getenv("PATH");
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
    {
        CKilnpackProcess run(work.path, {"config.xml", "config.xml"},
                             Environment({"PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin")}));
        AwaitReady();
        run.Signal(signalNumber);
        EXPECT_EQ(run.Wait(), 128 + signalNumber) << run.GetErrors();
        EXPECT_TRUE(Leftovers().empty()) << testing::PrintToString(Leftovers());
        EXPECT_FALSE(fs::exists(image));
        // The second configuration file is never started.
        std::string const output = run.GetOutput();
        EXPECT_EQ(output.find("hdiutil create"), output.rfind("hdiutil create")) << output;
    }
}

TEST_F(ReleasePipeline, SignalWhileWritingTheVolumeOrCompressingCleansUp)
{
    for (char const* phase : {"volume", "compress"})
    {
        CKilnpackProcess run(work.path, {"config.xml"}, PausedAt(phase));
        AwaitReady();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Wait(), 128 + SIGTERM) << phase << run.GetErrors();
        EXPECT_TRUE(Leftovers().empty()) << phase << testing::PrintToString(Leftovers());
        EXPECT_FALSE(fs::exists(image)) << phase;
    }
}

TEST_F(ReleasePipeline, NextRunRemovesWhatAKilledRunLeft)
{
    for (char const* phase : {"volume", "compress"})
    {
        CKilnpackProcess killed(work.path, {"config.xml"}, PausedAt(phase));
        AwaitReady();
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Wait(), 1000 + SIGKILL);
        ASSERT_FALSE(Leftovers().empty()) << phase;

        CKilnpackProcess next(work.path, {"config.xml"}, Environment());
        EXPECT_EQ(next.Wait(), 0) << next.GetErrors();
        EXPECT_NE(next.GetErrors().find("left by an interrupted build"), std::string::npos) << next.GetErrors();
        EXPECT_TRUE(Leftovers().empty()) << phase << testing::PrintToString(Leftovers());
        EXPECT_TRUE(fs::is_regular_file(image));
        ExpectDmgVolumeSound(image);
    }
}

TEST_F(ReleasePipeline, SecondRunForTheSameOutputFailsAtOnceAndTouchesNothing)
{
    CKilnpackProcess first(work.path, {"config.xml"}, PausedAt("volume"));
    AwaitReady();
    std::vector<std::string> const during = Leftovers();
    ASSERT_FALSE(during.empty());

    CKilnpackProcess second(work.path, {"config.xml"}, Environment());
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.GetErrors().find("Error: '" + image + "' is being built by another kilnpack (process " +
                                      std::to_string(first.GetPid()) + ")"),
              std::string::npos)
        << second.GetErrors();
    EXPECT_EQ(second.GetOutput().find("Running Command"), std::string::npos) << second.GetOutput();
    EXPECT_EQ(Leftovers(), during);

    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(), 128 + SIGINT);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ReleasePipeline, OutputThatIsAFolderFailsBeforeAnyCopy)
{
    fs::create_directories(image);
    CKilnpackProcess run(work.path, {"config.xml"}, Environment());
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_NE(run.GetErrors().find("Error: The output '" + image + "' is a folder."), std::string::npos)
        << run.GetErrors();
    EXPECT_EQ(run.GetOutput().find("Running Command"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(image));
}

// Different time zone, TMPDIR (and so staging folder), source dates and build time: same bytes.
TEST_F(ReleasePipeline, SourceDateEpochGivesIdenticalImages)
{
    std::string const otherTemporary = work.path + "/elsewhere/tmp";
    fs::create_directories(otherTemporary);
    std::string const second = work.path + "/Second.dmg";
    WriteConfig("second.xml", second);

    CKilnpackProcess one(work.path, {"config.xml"}, Environment({"SOURCE_DATE_EPOCH=1700000000", "TZ=UTC"}));
    ASSERT_EQ(one.Wait(), 0) << one.GetErrors();
    // The sources get other dates before the second build.
    fs::last_write_time(work.path + "/src/b.txt", fs::file_time_type::clock::now() - std::chrono::hours(50));
    fs::last_write_time(work.path + "/src/Folder", fs::file_time_type::clock::now() + std::chrono::hours(3));
    CKilnpackProcess two(work.path, {"second.xml"},
                         {"TMPDIR=" + otherTemporary, "SOURCE_DATE_EPOCH=1700000000", "TZ=Pacific/Kiritimati"});
    ASSERT_EQ(two.Wait(), 0) << two.GetErrors();

    std::string const first = ReadWholeFile(image);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first == ReadWholeFile(second)) << "the two images differ";
    ExpectDmgVolumeSound(second);

    // Without the variable, images carry the time of the build, as before.
    std::string const third = work.path + "/Third.dmg";
    WriteConfig("third.xml", third);
    CKilnpackProcess three(work.path, {"third.xml"}, Environment());
    ASSERT_EQ(three.Wait(), 0) << three.GetErrors();
    EXPECT_FALSE(first == ReadWholeFile(third));
}

// A read-only source folder (0555) builds for a user who isn't root; its staging copy is removed
// afterwards and the image keeps the source's modes.
TEST_F(ReleasePipeline, ReadOnlySourceFolderBuildsAndLeavesNothing)
{
    std::string const locked = work.path + "/src/Locked";
    fs::create_directories(locked + "/Inner");
    std::ofstream(locked + "/Inner/c.txt") << "inside a read-only folder\n";
    std::ofstream(work.path + "/locked.xml") << "<kilnpack><image file='" << image
                                             << "' name='Locked' template_size='8'>"
                                                "<file source='src/Locked' name='Locked'/></image></kilnpack>";
    fs::permissions(locked + "/Inner", fs::perms(0555));
    fs::permissions(locked, fs::perms(0555));
    int user = -1;
    if (geteuid() == 0)
    {
        user = 65534; // nobody: root could write into a read-only folder anyway
        for (auto const& entry : fs::recursive_directory_iterator(work.path))
            EXPECT_EQ(lchown(entry.path().c_str(), uid_t(user), gid_t(user)), 0);
        EXPECT_EQ(chown(work.path.c_str(), uid_t(user), gid_t(user)), 0);
    }
    CKilnpackProcess run(work.path, {"locked.xml"}, Environment(), user);
    EXPECT_EQ(run.Wait(), 0) << run.GetErrors();
    EXPECT_TRUE(Leftovers().empty()) << testing::PrintToString(Leftovers());
    ExpectDmgVolumeSound(image);

    CTempFolder listing;
    std::string const text = listing.path + "/list.txt";
    ASSERT_EQ(RunShell("7zz l -slt '" + image + "' > '" + text + "'"), 0);
    std::string const entries = ReadWholeFile(text);
    for (char const* item : {"Locked/Locked\n", "Locked/Locked/Inner\n"})
    {
        size_t const at = entries.find(std::string("Path = ") + item);
        ASSERT_NE(at, std::string::npos) << entries;
        size_t const mode = entries.find("dr-xr-xr-x", at);
        EXPECT_LT(mode, entries.find("Path = ", at + 1)) << item << entries;
    }
    fs::permissions(locked, fs::perms::owner_all);
    fs::permissions(locked + "/Inner", fs::perms::owner_all);
}

// On a terminal the two long phases redraw one progress line in place; in a log nothing is added.
TEST_F(ReleasePipeline, ProgressLineOnlyOnATerminal)
{
    CKilnpackProcess logged(work.path, {"config.xml"}, Environment());
    ASSERT_EQ(logged.Wait(), 0) << logged.GetErrors();
    EXPECT_EQ(logged.GetErrors().find('\r'), std::string::npos) << logged.GetErrors();
    EXPECT_EQ(logged.GetErrors().find("MB/s"), std::string::npos) << logged.GetErrors();

    // `script` gives the program a terminal and records what it writes there.
    std::string const typescript = work.path + "/typescript";
    std::string const command = "cd '" + work.path + "' && TMPDIR='" + temporary + "' script -qec '" +
                                KILNPACK_BINARY + " config.xml' '" + typescript + "' > /dev/null";
    ASSERT_EQ(RunShell(command), 0) << ReadWholeFile(typescript);
    std::string const screen = ReadWholeFile(typescript);
    EXPECT_NE(screen.find("\rWriting volume: "), std::string::npos) << screen;
    EXPECT_NE(screen.find("\rCompressing: "), std::string::npos) << screen;
    EXPECT_NE(screen.find("100% "), std::string::npos) << screen;
}
