// Running a command text through the shell in a process group of its own, tied to our life.
#include "sys/ShellRun.h"

#include "sys/Interruption.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace
{
// A command must not outlive a kilnpack killed with SIGKILL (which it can't catch to pass on).
// Linux: the child asks for SIGKILL when the thread that forked it ends (RunInShell runs on the main
// thread only), then checks that the parent didn't die before the request; the shell is told to
// exec the command (every command text here is one simple command), so the setting, which an exec
// keeps, is the command's own and not only the shell's. Other systems (macOS, the BSDs) have no such
// request (only kqueue's NOTE_EXIT, watched by another process); there the getppid() check at start
// is all, and a command that was running when kilnpack was killed runs to its end.
void TieToParent(pid_t parent)
{
#if defined(__linux__)
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (getppid() != parent)
        _exit(127);
}
} // namespace

// The shell runs in a process group of its own, which a signal caught meanwhile is sent on to
// (system() would instead hold SIGINT back from us until the command ended by itself).
int RunInShell(std::string const& commandText)
{
    std::fflush(stdout);
    std::fflush(stderr);
    // Commands that run after a signal (the clean-up) are let finish; a signal that arrives while
    // this one starts is sent on to it.
    bool const startedInterrupted = GetPendingInterrupt() != 0;
    std::string const shellText = "exec " + commandText;
    pid_t const parent = getpid();
    pid_t const child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
    {
        setpgid(0, 0);
        TieToParent(parent);
        execl("/bin/sh", "sh", "-c", shellText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(child, child); // also here, so the group exists before a signal is sent on to it
    // A second signal during the clean-up doesn't cut it short.
    SetRunningCommandGroup(startedInterrupted ? 0 : child);
    if (int const pending = GetPendingInterrupt(); pending != 0 && !startedInterrupted)
        kill(-child, pending); // caught before the group was known
    int status = 0;
    pid_t waited;
    do
        waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    SetRunningCommandGroup(0);
    if (waited < 0)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
