// The kilnpack program in a release pipeline: exit status, signals in each phase, what a killed run
// leaves and the next run removes, two runs for one output, and byte-identical reproducible builds.
// Phases are stopped through a handshake (a FIFO the program writes to when it reaches the phase,
// or a stand-in `cp` that does), never by timing.
#include "ReleasePipelineFixture.h"
#include "support/FsckHfs.h"

namespace fs = std::filesystem;

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

// A stand-in `rm` first on the search path tells the test it runs the first time, then blocks (later
// calls, the clean-up's, remove as rm does); the signal must reach it through kilnpack, and
// everything the build made must be gone afterwards.
TEST_F(ReleasePipeline, SignalDuringAShellCommandStopsItAndCleansUp)
{
    std::string const bin = work.path + "/bin";
    fs::create_directories(bin);
    std::string const marker = work.path + "/started";
    std::ofstream(bin + "/rm") << "#!/bin/sh\nif [ ! -e '" << marker << "' ]; then : > '" << marker
                               << "'; echo go > '" << work.path << "/ready'; exec cat '" << work.path
                               << "/never'; fi\nexec /bin/rm \"$@\"\n";
    fs::permissions(bin + "/rm", fs::perms::owner_all);
    ASSERT_EQ(mkfifo((work.path + "/never").c_str(), 0600), 0);
    char const* path = std::getenv("PATH");
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
    {
        fs::remove(marker);
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
        // Killed while the volume was planned, the build leaves only its lock and the sparse image the
        // next one removes as ever; killed while compressing, also the temporary output.
        bool const leftTemporaryOutput = std::string(phase) == "compress";
        EXPECT_EQ(next.GetErrors().find("left by an interrupted build") != std::string::npos, leftTemporaryOutput)
            << next.GetErrors();
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
    // The volume is written as it is compressed: one line.
    EXPECT_EQ(screen.find("\rWriting volume: "), std::string::npos) << screen;
    EXPECT_NE(screen.find("\rCompressing: "), std::string::npos) << screen;
    EXPECT_NE(screen.find("100% "), std::string::npos) << screen;
}
