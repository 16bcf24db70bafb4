#include "image/FinderFlags.h"

#include "config/XmlAccess.h"
#include "image/CommandRunner.h"
#include "io/ByteOrder.h"

#include <array>
#include <cstdio>

#ifdef __APPLE__
#include <sys/xattr.h>
#endif

namespace
{
// com.apple.FinderInfo: FileInfo or FolderInfo (16 bytes, finderFlags big-endian at 8), then the
// extended Finder info (16 bytes).
using CFinderInfo = std::array<unsigned char, 32>;
constexpr size_t kFinderFlagsAt = 8;

// What the item's Finder info holds now; a copied item may bring type, creator or flags along.
CFinderInfo ReadFinderInfo(std::string const& path)
{
    CFinderInfo info{};
#ifdef __APPLE__
    getxattr(path.c_str(), "com.apple.FinderInfo", info.data(), info.size(), 0, XATTR_NOFOLLOW);
#else
    // Items made on this system carry no Finder info until one is set.
    (void)path;
#endif
    return info;
}

std::string FormatHex(CFinderInfo const& info)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : info)
    {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}
} // namespace

bool AddFinderFlags(std::string const& path, uint16_t flags)
{
    CFinderInfo info = ReadFinderInfo(path);
    PutBe16(&info[kFinderFlagsAt], uint16_t(GetBe16(&info[kFinderFlagsAt]) | flags));
    if (RunCommand("xattr -s -x -w com.apple.FinderInfo " + FormatHex(info) + " " + QuoteArgument(path)))
        return true;
    std::fprintf(stderr, "Error: Unable to set the Finder flags of '%s'.\n", path.c_str());
    return false;
}

bool ProcessItemFinderFlags(CXmlNode const* itemNode, std::string const& itemPath)
{
    uint16_t flags = 0;
    if (GetNodeAttributeOrDefault(itemNode, "hide_extension", false))
        flags |= kFinderHideExtension;
    if (GetNodeAttributeOrDefault(itemNode, "hidden", false))
        flags |= kFinderIsInvisible;
    return flags == 0 || AddFinderFlags(itemPath, flags);
}
