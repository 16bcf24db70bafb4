// Running the built kilnpack as a user would, capturing what it writes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct CRunResult
{
    std::string output; // standard output
    std::string errors; // standard error
    int status;         // exit status, or -1 if it did not exit normally
};

// Runs kilnpack with the arguments in the working directory and waits for it to end.
CRunResult RunKilnpack(std::vector<std::string> const& arguments,
                       std::filesystem::path const& workingDirectory);

// The two lines every run starts with.
extern char const* const kBanner;
extern char const* const kUsage;
