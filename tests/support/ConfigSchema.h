// Checks configuration files against docs/kilnpack.xsd with libxml2's xmllint.
#pragma once

#include "support/ShellCommand.h"

#include <gtest/gtest.h>
#include <string>

// xmllint's exit status for the file, with its messages in `messages`.
inline int ValidateConfiguration(std::string const& path, std::string* messages)
{
    return RunCapturing("xmllint --noout --schema " + QuoteForShell(KILNPACK_SOURCE_DIR "/docs/kilnpack.xsd") + " " +
                            QuoteForShell(path),
                        messages);
}

inline void ExpectValidConfiguration(std::string const& path)
{
    std::string messages;
    EXPECT_EQ(ValidateConfiguration(path, &messages), 0) << messages;
}
