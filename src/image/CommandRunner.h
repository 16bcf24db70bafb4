// The one way the image builder runs external commands: echo the text, then run it.
#pragma once

#include <functional>
#include <string>

// Gets the whole command text, returns its exit status (0 is success).
using CCommandHandler = std::function<int(std::string const& commandText)>;

// Writes "Running Command: <text>" on the standard output, runs the text, and gives true exactly
// when it returned 0. On macOS the text goes to the system shell; elsewhere hdiutil, bless, xattr
// and tiffutil commands go to the in-process stand-ins and everything else to the system shell.
bool RunCommand(std::string const& commandText);

// Replaces what runs the commands (for tests); an empty handler restores the real one.
// The echo line is written either way.
void SetCommandHandler(CCommandHandler handler);

// A value between double quotes, with a backslash before each of " ` $ and \ so that the shell
// takes it literally.
std::string QuoteArgument(std::string const& value);

// QuoteArgument for a path: one that begins with "-" gets "./" in front, so that no command takes
// it for an option.
std::string QuotePathArgument(std::string const& path);
