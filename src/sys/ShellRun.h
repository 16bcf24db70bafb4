// Running a command text through the system shell, in a process group of its own.
#pragma once

#include <string>

// Runs the text with /bin/sh -c and gives its exit status: anything but a normal exit with 0 counts
// as failure (128 + N for a shell stopped by signal N, -1 when it couldn't be started). A signal
// caught meanwhile is sent on to the command's process group.
int RunInShell(std::string const& commandText);
