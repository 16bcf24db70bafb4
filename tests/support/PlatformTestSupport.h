// Helpers shared by the stand-in tests: hex byte strings and running the independent checkers.
#pragma once

#include "support/ShellCommand.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// "00 0a FF" -> {0x00, 0x0A, 0xFF}; blanks are ignored.
inline std::vector<uint8_t> ParseHex(std::string const& text)
{
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char c : text)
    {
        if (c == ' ' || c == '\n')
            continue;
        digits += c;
        if (digits.size() == 2)
        {
            bytes.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    return bytes;
}

