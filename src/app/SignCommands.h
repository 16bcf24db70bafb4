// The command-line signing of an existing image ("--sign IMAGE IDENTITY") and the stapling of a
// notarization ticket ("--staple IMAGE TICKET").
#pragma once

#include <string>

// The environment variable that holds the password of the identity named by "--sign".
constexpr char const* kSignPasswordVariable = "KILNPACK_IDENTITY_PASSWORD";

// "--sign", "--staple" and "--timestamp-url URL" (which applies to every later "--sign"), in any case.
bool IsSigningOption(char const* argument);
// Performs the option at argv[*index] with the arguments after it, moving *index to its last
// argument. A missing argument is an error.
bool PerformSigningOption(int argc, char** argv, int* index, std::string* timestampUrl);

// Each prints what it did, or an error line, and returns whether it succeeded.
bool SignImageFromCommandLine(std::string const& image, std::string const& identity, std::string const& timestampUrl);
bool StapleImageFromCommandLine(std::string const& image, std::string const& ticket);
