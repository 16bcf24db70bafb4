#include "engine/CommandRunner.h"

#include "engine/DiskImageTools.h"
#include "sys/ShellRun.h"

#include <cstdio>

namespace
{
CCommandHandler& InstalledHandler()
{
    static CCommandHandler handler;
    return handler;
}

void EchoCommand(std::string const& commandText)
{
    std::printf("Running Command: %s\n", commandText.c_str());
    std::fflush(stdout);
}
} // namespace

bool RunCommand(std::string const& commandText)
{
    EchoCommand(commandText);
    CCommandHandler const& handler = InstalledHandler();
    return (handler ? handler(commandText) : RunInShell(commandText)) == 0;
}

bool RunToolCommand(CToolCommand const& command)
{
    std::string const text = command.FormatText();
    EchoCommand(text);
    CCommandHandler const& handler = InstalledHandler();
    return (handler ? handler(text) : GetDiskImageTools().Run(command)) == 0;
}

void SetCommandHandler(CCommandHandler handler)
{
    InstalledHandler() = std::move(handler);
}
