// The kilnpack program run as a release pipeline runs it: one process in a work folder with its own
// TMPDIR, started and waited for (or signalled), and what a build leaves behind.
#pragma once

#include "support/ImageTestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
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
            if (output < 0 || errors < 0 || chdir(work.c_str()) != 0 || dup2(output, 1) < 0 ||
                dup2(errors, 2) < 0)
                _exit(126);
            if (user >= 0 &&
                (setgroups(0, nullptr) != 0 || setgid(gid_t(user)) != 0 || setuid(uid_t(user)) != 0))
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
