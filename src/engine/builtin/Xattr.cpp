// xattr -s -x -w com.apple.FinderInfo HEX PATH: sets the Finder info of an item on an attached
// volume. The volume writer keeps its Finder flags word (bytes 8-9 of the 32) for the item's catalog
// record; type, creator and dates are the writer's own, so the value's other bytes are not kept.
#include "io/ByteOrder.h"
#include "io/HexDigits.h"
#include "engine/builtin/AttachedVolumes.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace
{
constexpr char const kFinderInfoName[] = "com.apple.FinderInfo";
constexpr size_t kFinderInfoSize = 32;

int ReportXattrFailure(std::string const& reason)
{
    std::fprintf(stderr, "xattr: %s\n", reason.c_str());
    return 1;
}

bool DecodeHex(std::string const& text, std::vector<uint8_t>* bytes)
{
    bytes->clear();
    int high = -1;
    for (char c : text)
    {
        if (c == ' ')
            continue;
        int digit = GetHexDigitValue(c);
        if (digit < 0)
            return false;
        if (high < 0)
            high = digit;
        else
        {
            bytes->push_back(uint8_t(high << 4 | digit));
            high = -1;
        }
    }
    return high < 0;
}

// The volume holding `path` itself (a symbolic link is not followed, as with -s), with the path
// relative to its root.
CAttachedVolume* FindVolumeOfItem(CAttachedVolumes* volumes, std::string const& path,
                                  std::string* relativePath)
{
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
        return volumes->FindHolding(path, relativePath);
    size_t const slash = path.find_last_of('/');
    std::string const parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string const name = slash == std::string::npos ? path : path.substr(slash + 1);
    CAttachedVolume* volume = volumes->FindHolding(parent, relativePath);
    if (volume != nullptr)
        *relativePath = relativePath->empty() ? name : *relativePath + "/" + name;
    return volume;
}
} // namespace

int RunXattr(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 1, {}, {"-w", "-x", "-s"}, &arguments, &error) || !arguments.Has("-w") ||
        !arguments.Has("-x") || !arguments.Has("-s") || arguments.operands.size() != 3)
        return ReportXattrFailure((error.empty() ? "unsupported arguments" : error) +
                                  "\nUsage: xattr -s -x -w com.apple.FinderInfo <hex> <file>");
    std::string const& name = arguments.operands[0];
    std::string const& path = arguments.operands[2];
    if (name != kFinderInfoName)
        return ReportXattrFailure("[Errno 1] only " + std::string(kFinderInfoName) +
                                  " can be set here: " + name);
    std::vector<uint8_t> value;
    if (!DecodeHex(arguments.operands[1], &value) || value.size() != kFinderInfoSize)
        return ReportXattrFailure("the value of " + name + " must be " + std::to_string(kFinderInfoSize) +
                                  " bytes in hexadecimal");
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return ReportXattrFailure(path + ": " + std::strerror(errno));
    std::string relativePath;
    CAttachedVolume* volume = FindVolumeOfItem(volumes, path, &relativePath);
    if (volume == nullptr)
        return ReportXattrFailure(path + ": not on an attached volume");
    volume->finderFlags[relativePath] = GetBe16(&value[8]);
    return 0;
}
