// hdiutil convert P -format UDZO|UDBZ|ULMO|UDRO [-imagekey zlib-level=L] -o F: a read-only UDIF copy
// of a disk that create made, one blkx table per region of its partition map.
#include "engine/builtin/ApfsDisk.h"
#include "engine/builtin/AttachedVolumes.h"
#include "engine/builtin/CreatedDisk.h"
#include "sys/Interruption.h"
#include "sys/ProgressLine.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"
#include "udif/UdifWriter.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace
{
constexpr int kDefaultZlibLevel = 1; // hdiutil's default for UDZO

bool ParseFormat(std::string const& name, EUdifFormat* format, std::string* error)
{
    static struct
    {
        char const* name;
        EUdifFormat format;
    } const kFormats[] = {{"UDZO", EUdifFormat::Udzo},
                          {"UDBZ", EUdifFormat::Udbz},
                          {"ULMO", EUdifFormat::Ulmo},
                          {"UDRO", EUdifFormat::Udro}};
    for (auto const& known : kFormats)
    {
        if (name == known.name)
        {
            *format = known.format;
            return true;
        }
    }
    *error = name == "ULFO"
                 ? "format ULFO (LZFSE) is not supported here: no LZFSE library is available; use ULMO"
                 : "format " + name + " is not supported here (only UDZO, UDBZ, ULMO, UDRO)";
    return false;
}

bool ParseImageKey(std::string const& key, int* level, std::string* error)
{
    std::string const prefix = "zlib-level=";
    std::string value =
        key.compare(0, prefix.size(), prefix) == 0 ? key.substr(prefix.size()) : std::string();
    if (value.size() == 1 && value[0] >= '1' && value[0] <= '9')
    {
        *level = value[0] - '0';
        return true;
    }
    *error = value.empty() && key.compare(0, prefix.size(), prefix) != 0
                 ? "unsupported image key " + key + " (only zlib-level=1..9)"
                 : "invalid zlib level in " + key + " (expected 1 to 9)";
    return false;
}

// The free allocation blocks of the volume, as absolute disk sectors.
bool ListUnusedSectors(CCreatedDisk const& disk, std::vector<std::pair<uint64_t, uint64_t>>* sectors,
                       std::string* error)
{
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    if (disk.apfs ? !ReadApfsFreeRanges(disk.fd.Get(), disk.PartitionOffset(), &ranges, error)
                  : !ReadHfsFreeRanges(disk.fd.Get(), disk.PartitionOffset(), &ranges, error))
        return false;
    for (auto const& range : ranges)
    {
        // Only whole sectors can be left out.
        uint64_t first = (range.first + kSectorBytes - 1) / kSectorBytes;
        uint64_t end = (range.first + range.second) / kSectorBytes;
        if (end > first)
            sectors->push_back({disk.layout.partitionStart + first, end - first});
    }
    return true;
}
} // namespace

int RunHdiutilConvert(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 2, {"-format", "-imagekey", "-o"}, {}, &arguments, &error))
        return ReportHdiutilFailure("convert", error);
    if (arguments.operands.size() != 1)
        return ReportHdiutilFailure("convert", "expected one image path, got " +
                                                   std::to_string(arguments.operands.size()));
    if (!arguments.Has("-format"))
        return ReportHdiutilFailure("convert", "no format given (-format)");
    EUdifFormat format = EUdifFormat::Udzo;
    if (!ParseFormat(arguments.Value("-format"), &format, &error))
        return ReportHdiutilFailure("convert", error);
    if (!arguments.Has("-o") || arguments.Value("-o").empty())
        return ReportHdiutilFailure("convert", "no output path given (-o)");
    int level = kDefaultZlibLevel;
    if (arguments.Has("-imagekey") && format != EUdifFormat::Udzo)
        return ReportHdiutilFailure("convert",
                                    "image key " + arguments.Value("-imagekey") + " applies to UDZO only");
    if (arguments.Has("-imagekey") && !ParseImageKey(arguments.Value("-imagekey"), &level, &error))
        return ReportHdiutilFailure("convert", error);

    std::string const& imagePath = arguments.operands[0];
    std::string const& outPath = arguments.Value("-o");
    if (volumes->FindByImage(imagePath) != nullptr)
        return ReportHdiutilFailure("convert", imagePath + " is attached; detach it first");
    struct stat existing;
    if (lstat(outPath.c_str(), &existing) == 0)
        return ReportHdiutilFailure("convert", outPath + ": File exists");

    CCreatedDisk disk;
    if (!OpenCreatedDisk(imagePath, O_RDONLY, &disk, &error))
        return ReportHdiutilFailure("convert", imagePath + ": " + error);
    std::vector<CUdifRegion> regions =
        ListPartitionRegions(disk.layout, disk.apfs ? GetAppleApfsPartitionType() : GetAppleHfsPartitionType());
    std::vector<std::pair<uint64_t, uint64_t>> unused;
    bool listed = ListUnusedSectors(disk, &unused, &error);
    std::string ignored;
    CloseCreatedDisk(&disk, &ignored);
    if (!listed)
        return ReportHdiutilFailure("convert", imagePath + ": " + error);
    for (CUdifRegion& region : regions)
    {
        if (region.startSector == disk.layout.partitionStart)
            region.unusedSectors = unused;
    }
    bool written = false;
    {
        // Cleared again before anything else is printed.
        CProgressLine line("Compressing");
        CUdifProgress progress = [&line](uint64_t done, uint64_t total)
        {
            line.Update(done, total, kSectorBytes);
            PauseHereIfTestAsks("compress");
            return GetPendingInterrupt() == 0;
        };
        written = WriteUdifImage(imagePath, regions, outPath, format, level, &error, progress);
    }
    if (!written)
        return ReportHdiutilFailure("convert", error);
    std::printf("created: %s\n", outPath.c_str());
    return 0;
}
