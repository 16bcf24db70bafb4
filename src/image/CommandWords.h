// Splits a command text into its words the way the shell would for the texts this program builds.
#pragma once

#include <string>
#include <vector>

// Words are separated by unquoted blanks. Double quotes group a word; inside them a backslash
// before " ` $ or \ stands for that character alone, elsewhere it stays as it is. Outside quotes a
// backslash makes the next character literal.
std::vector<std::string> SplitCommandWords(std::string const& commandText);
