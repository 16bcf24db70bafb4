// Quoting values for the command texts, as they are echoed and as the shell reads them.
#pragma once

#include <string>

// A value between double quotes, with a backslash before each of " ` $ and \ so that the shell
// takes it literally.
std::string QuoteArgument(std::string const& value);

// The path with "./" in front when it begins with "-", so that no command takes it for an option.
std::string ProtectLeadingDash(std::string const& path);

// QuoteArgument of ProtectLeadingDash(path).
std::string QuotePathArgument(std::string const& path);
