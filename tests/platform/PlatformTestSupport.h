// Helpers shared by the stand-in tests: hex byte strings and running the independent checkers.
#pragma once

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

// Runs a shell command, giving its standard output and error together and its exit status.
inline int RunChecker(std::string const& command, std::string* output)
{
    output->clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output->append(buffer, n);
    return pclose(pipe);
}
