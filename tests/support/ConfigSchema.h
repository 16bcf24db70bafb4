// Checks configuration files against docs/kilnpack.xsd with libxml2's xmllint.
#pragma once

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

// xmllint's exit status for the file, with its messages in `messages`.
inline int ValidateConfiguration(std::string const& path, std::string* messages)
{
    std::string const command = "xmllint --noout --schema '" KILNPACK_SOURCE_DIR "/docs/kilnpack.xsd' '" + path +
                                "' 2>&1";
    messages->clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        *messages += buffer;
    return pclose(pipe);
}

inline void ExpectValidConfiguration(std::string const& path)
{
    std::string messages;
    EXPECT_EQ(ValidateConfiguration(path, &messages), 0) << messages;
}
