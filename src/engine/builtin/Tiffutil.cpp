// tiffutil -cathidpicheck ONE TWO -out TIFF: joins a picture and its double-resolution twin into one
// TIFF of two images, the first at 72 dpi and the second at 144 dpi, the form from which the Finder
// picks the one that suits the screen. The second must be exactly twice the first's size.
#include "picture/PngPicture.h"
#include "picture/RetinaTiff.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cstdio>

namespace
{
int ReportTiffutilFailure(std::string const& reason)
{
    std::fprintf(stderr, "tiffutil: %s\n", reason.c_str());
    return 1;
}

} // namespace

int RunTiffutil(std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 1, {"-out"}, {"-cathidpicheck"}, &arguments, &error) ||
        !arguments.Has("-cathidpicheck") || !arguments.Has("-out") || arguments.operands.size() != 2)
        return ReportTiffutilFailure((error.empty() ? "unsupported arguments" : error) +
                                     "\nUsage: tiffutil -cathidpicheck <file> <file@2x> -out <file>");

    CPngPicture single, twice;
    if (!ReadPngPicture(arguments.operands[0], &single, &error) ||
        !ReadPngPicture(arguments.operands[1], &twice, &error))
        return ReportTiffutilFailure(error);
    if (uint64_t(twice.width) != 2 * uint64_t(single.width) ||
        uint64_t(twice.height) != 2 * uint64_t(single.height))
        return ReportTiffutilFailure(arguments.operands[1] + " is not twice the size of " +
                                     arguments.operands[0]);
    if (!WriteRetinaTiff(arguments.Value("-out"), single, twice, &error))
        return ReportTiffutilFailure(error);
    return 0;
}
