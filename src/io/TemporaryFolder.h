// The folder kilnpack makes its temporary folders in: $TMPDIR, else /tmp, always as an absolute
// path, so that it can't reach a command as an option (a value beginning with "-") and names the
// same place after a change of the working folder (the clean-up after a killed build compares it).
#pragma once

#include <string>

// Absolute, without a trailing "/" (except for "/" itself); a relative $TMPDIR is taken from the
// folder kilnpack runs in.
std::string GetTemporaryFolder();
