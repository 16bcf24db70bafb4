// The text of a command as it is echoed and as the shell reads it, built from the command's words.
#pragma once

#include <string>
#include <vector>

// A value between double quotes, with a backslash before each of " ` $ and \ so that the shell
// takes it literally.
std::string QuoteArgument(std::string const& value);

// The path with "./" in front when it begins with "-", so that no command takes it for an option.
std::string ProtectLeadingDash(std::string const& path);

// QuoteArgument of ProtectLeadingDash(path).
std::string QuotePathArgument(std::string const& path);

// One word of a command: written as it stands, or quoted as a value or as a path.
struct CCommandWord
{
    enum class EForm
    {
        Literal,
        Quoted,
        QuotedPath,
    };
    EForm form = EForm::Literal;
    std::string value;

    // The word as the program receives it (a path that begins with "-" has "./" in front).
    std::string GetArgument() const;
    // The word as the command text shows it.
    std::string FormatText() const;
};

// The words joined by single blanks, each formatted as its form says.
std::string FormatCommandText(std::vector<CCommandWord> const& words);

// The words as the program receives them: its argv.
std::vector<std::string> ListCommandArguments(std::vector<CCommandWord> const& words);
