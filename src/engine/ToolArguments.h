// Splitting a stand-in tool's arguments into options and operands, as the real tools take them:
// options in any order, each either a flag or followed by its value.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct CToolArguments
{
    std::vector<std::string> operands;
    std::map<std::string, std::string> values; // option -> its value (the last one given)
    std::set<std::string> flags;

    bool Has(std::string const& option) const
    {
        return values.count(option) != 0 || flags.count(option) != 0;
    }
    std::string Value(std::string const& option) const
    {
        auto found = values.find(option);
        return found == values.end() ? std::string() : found->second;
    }
};

// Reads argv from index `first`. Words starting with '-' must be one of `valueOptions` or
// `flagOptions`; anything else is an operand. False with a reason for an unknown option or an
// option missing its value.
bool ParseToolArguments(std::vector<std::string> const& argv, size_t first,
                        std::set<std::string> const& valueOptions, std::set<std::string> const& flagOptions,
                        CToolArguments* arguments, std::string* error);

// A size as hdiutil takes it: a decimal number with a unit suffix k, m, g or t (powers of 1024)
// or none for bytes. False with a reason for anything else, and for zero or negative sizes.
bool ParseImageSize(std::string const& text, unsigned long long* bytes, std::string* error);
