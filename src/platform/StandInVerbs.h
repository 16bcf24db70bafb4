// The verbs of the stand-in tools, one per source file; each takes the whole argv and returns the
// tool's exit status.
#pragma once

#include <string>
#include <vector>

int RunHdiutilCreate(std::vector<std::string> const& argv);
int RunHdiutilAttach(std::vector<std::string> const& argv);
int RunHdiutilDetach(std::vector<std::string> const& argv);
int RunHdiutilConvert(std::vector<std::string> const& argv);
int RunHdiutilResize(std::vector<std::string> const& argv);
int RunBless(std::vector<std::string> const& argv);
int RunXattr(std::vector<std::string> const& argv);
int RunTiffutil(std::vector<std::string> const& argv);

// Writes "hdiutil: <verb> failed - <reason>" on the standard error, as hdiutil reports a failed
// verb, and gives the exit status for it.
int ReportHdiutilFailure(std::string const& verb, std::string const& reason);
