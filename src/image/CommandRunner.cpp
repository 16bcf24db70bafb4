#include "image/CommandRunner.h"

#include "image/CommandWords.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sys/wait.h>

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

// Exit status of a shell run: anything but a normal exit with 0 counts as failure.
int RunInShell(std::string const& commandText)
{
    std::fflush(stdout);
    std::fflush(stderr);
    int status = std::system(commandText.c_str());
    if (status == -1)
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
