#include "sys/ShellRun.h"

#include "sys/Interruption.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

// The shell runs in a process group of its own, which a signal caught meanwhile is sent on to
// (system() would instead hold SIGINT back from us until the command ended by itself).
int RunInShell(std::string const& commandText)
{
    std::fflush(stdout);
    std::fflush(stderr);
    // Commands that run after a signal (the clean-up) are let finish; a signal that arrives while
    // this one starts is sent on to it.
    bool const startedInterrupted = GetPendingInterrupt() != 0;
    pid_t const child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
    {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", commandText.c_str(), static_cast<char*>(nullptr));
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
