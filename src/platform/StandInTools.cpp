#include "platform/StandInTools.h"

#include "platform/StandInVerbs.h"

#include <cstdio>

int ReportHdiutilFailure(std::string const& verb, std::string const& reason)
{
    std::fprintf(stderr, "hdiutil: %s failed - %s\n", verb.c_str(), reason.c_str());
    return 1;
}

int RunStandInTool(std::vector<std::string> const& argv)
{
    if (!argv.empty() && argv[0] == "bless")
        return RunBless(argv);
    if (!argv.empty() && argv[0] == "xattr")
        return RunXattr(argv);
    if (!argv.empty() && argv[0] == "tiffutil")
        return RunTiffutil(argv);
    if (argv.empty() || argv[0] != "hdiutil")
    {
        std::fprintf(stderr, "%s: not a tool this program stands in for\n",
                     argv.empty() ? "" : argv[0].c_str());
        return 127;
    }
    std::string verb = argv.size() > 1 ? argv[1] : std::string();
    if (verb == "create")
        return RunHdiutilCreate(argv);
    if (verb == "attach")
        return RunHdiutilAttach(argv);
    if (verb == "detach")
        return RunHdiutilDetach(argv);
    if (verb == "convert")
        return RunHdiutilConvert(argv);
    if (verb == "resize")
        return RunHdiutilResize(argv);
    if (verb.empty())
        std::fprintf(stderr, "Usage: hdiutil <verb> <options>\nverbs: create, attach, detach, resize, convert\n");
    else
        std::fprintf(stderr,
                     "hdiutil: unknown verb '%s' (this stand-in knows create, attach, detach, resize, convert)\n",
                     verb.c_str());
    return 1;
}
