// The verbs of the stand-in tools, one per source file; each takes the tool's whole argv (its name
// first) and returns the tool's exit status. Verbs that work on attached volumes get the table of
// the tool set that runs them.
#pragma once

#include "engine/builtin/AttachedVolumes.h"

#include <string>
#include <vector>

int RunHdiutilCreate(std::vector<std::string> const& argv);
int RunHdiutilAttach(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunHdiutilDetach(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunHdiutilConvert(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunHdiutilResize(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunBless(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunXattr(CAttachedVolumes* volumes, std::vector<std::string> const& argv);
int RunTiffutil(std::vector<std::string> const& argv);

// Writes "hdiutil: <verb> failed - <reason>" on the standard error, as hdiutil reports a failed
// verb, and gives the exit status for it.
int ReportHdiutilFailure(std::string const& verb, std::string const& reason);
