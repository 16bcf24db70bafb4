#include "image/CommandRunner.h"

#include "image/CommandWords.h"
#include "platform/Interruption.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sys/wait.h>
#include <unistd.h>

#ifndef __APPLE__
#include "platform/StandInTools.h"
#endif

namespace
{
CCommandHandler& InstalledHandler()
{
    static CCommandHandler handler;
    return handler;
}

// Exit status of a shell run: anything but a normal exit with 0 counts as failure. The shell runs
// in a process group of its own, which a signal caught meanwhile is sent on to (system() would
// instead hold SIGINT back from us until the command ended by itself).
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

#ifndef __APPLE__
bool IsStandInTool(std::string const& word)
{
    return word == "hdiutil" || word == "bless" || word == "xattr" || word == "tiffutil";
}
#endif

int RunForReal(std::string const& commandText)
{
#ifndef __APPLE__
    // There are no disk-image tools here; our own stand-ins do their work in process.
    std::vector<std::string> words = SplitCommandWords(commandText);
    if (!words.empty() && IsStandInTool(words[0]))
    {
        // A stand-in that gives up with a thrown text fails like a tool that exits non-zero, so
        // the pipeline still detaches and cleans up.
        int status = 1;
        try
        {
            status = RunStandInTool(words);
        }
        catch (char const* message)
        {
            std::fprintf(stderr, "Internal Error: '%s'\n", message);
        }
        catch (std::exception const& error)
        {
            std::fprintf(stderr, "Internal Error: '%s'\n", error.what());
        }
        std::fflush(stdout);
        std::fflush(stderr);
        return status;
    }
#endif
    return RunInShell(commandText);
}
} // namespace

bool RunCommand(std::string const& commandText)
{
    std::printf("Running Command: %s\n", commandText.c_str());
    std::fflush(stdout);
    CCommandHandler const& handler = InstalledHandler();
    int status = handler ? handler(commandText) : RunForReal(commandText);
    return status == 0;
}

void SetCommandHandler(CCommandHandler handler)
{
    InstalledHandler() = std::move(handler);
}

std::string QuoteArgument(std::string const& value)
{
    std::string quoted = "\"";
    for (char c : value)
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string QuotePathArgument(std::string const& path)
{
    return QuoteArgument(!path.empty() && path[0] == '-' ? "./" + path : path);
}
