// The one way the image builder runs external commands: echo the text, then run it.
#pragma once

#include "engine/CommandText.h"
#include "engine/ToolCommands.h"

#include <functional>
#include <string>

// Gets the whole command text, returns its exit status (0 is success).
using CCommandHandler = std::function<int(std::string const& commandText)>;

// Writes "Running Command: <text>" on the standard output, runs the text in the system shell, and
// gives true exactly when it returned 0.
bool RunCommand(std::string const& commandText);

// The same for a disk-image tool operation: echoes its text, and has the current disk-image tools
// (GetDiskImageTools) run it.
bool RunToolCommand(CToolCommand const& command);

// Replaces what runs the commands, the tool operations' included (for tests); it gets the echoed
// text. An empty handler restores the real one. The echo line is written either way.
void SetCommandHandler(CCommandHandler handler);
