// In-process replacements for the macOS disk-image tools (hdiutil, bless) on other platforms.
#pragma once

#include <string>
#include <vector>

// Runs argv[0] ("hdiutil", "bless", "xattr" or "tiffutil") with its arguments; returns the exit status a real
// tool would give. Progress goes to the standard output, complaints to the standard error.
int RunStandInTool(std::vector<std::string> const& argv);
