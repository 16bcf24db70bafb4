// Printing the volume inside a disk image: it is found through the GUID partition map (or taken
// as the whole disk), its catalog (HFS+) or file-system tree (APFS) walked, and each .DS_Store
// printed after its path.
#include "inspect/DumpImage.h"

#include "apfs/ApfsReader.h"
#include "desktopdb/DesktopDatabase.h"
#include "finder/AliasRecord.h"
#include "gpt/PartitionFinder.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsCatalogListing.h"
#include "hfsplus/HfsFileIo.h"
#include "io/FileDescriptor.h"
#include "io/PropertyList.h"
#include "signing/ImageSignatureReader.h"
#include "sys/Interruption.h"

#include <algorithm>
#include <functional>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <plist/plist.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Desktop databases larger than this are not read (the Finder's own stay far below).
constexpr uint64_t kMaxDatabaseBytes = 16u << 20;

std::string Quote(std::string const& text)
{
    return "\"" + text + "\"";
}

// The alias of the folder's background picture: the legacy 'pict' record, else the one in 'icvp'.
std::vector<uint8_t> FindBackgroundAlias(CDesktopDatabase const& database)
{
    auto const pict = database.records.find(CDesktopDatabase::CDatabaseKey(".", MakeFourCharCode("pict")));
    if (pict != database.records.end() && pict->second.type == MakeFourCharCode("blob"))
        return std::vector<uint8_t>(pict->second.data, pict->second.data + pict->second.size);
    auto const icvp = database.records.find(CDesktopDatabase::CDatabaseKey(".", MakeFourCharCode("icvp")));
    if (icvp == database.records.end() || icvp->second.type != MakeFourCharCode("blob"))
        return {};
    plist_t root = ParsePropertyList(icvp->second.data, icvp->second.size);
    std::unique_ptr<void, void (*)(void*)> owner(root, [](void* node) { plist_free(static_cast<plist_t>(node)); });
    plist_t alias = root && plist_get_node_type(root) == PLIST_DICT ? plist_dict_get_item(root, "backgroundImageAlias")
                                                                   : nullptr;
    uint64_t length = 0;
    char const* bytes = alias && plist_get_node_type(alias) == PLIST_DATA ? plist_get_data_ptr(alias, &length) : nullptr;
    return bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>();
}

// The alias's target as a path, looked up by its ID (a catalog node ID on HFS+, an inode number on
// APFS).
std::string DescribeAliasTarget(std::function<std::string(uint32_t)> const& pathOf, std::vector<uint8_t> const& alias)
{
    uint32_t target = 0;
    if (!ReadAliasTargetId(alias, &target))
        return "(damaged alias)";
    std::string const path = pathOf(target);
    return path.empty() ? "(missing: ID " + std::to_string(target) + ")" : Quote(path);
}

// Prints one desktop database; false (with the error printed) when it can't be read.
bool PrintDatabase(std::vector<uint8_t> const& bytes, std::vector<uint8_t>* backgroundAlias)
{
    try
    {
        CDesktopDatabase database;
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        database.ReadFromStream(in);
        database.Print(stdout);
        if (backgroundAlias)
            *backgroundAlias = FindBackgroundAlias(database);
        return true;
    }
    catch (char const* text)
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Internal Error: '%s'\n", text);
        return false;
    }
}

std::string DescribeFinderFlags(uint16_t flags)
{
    static struct
    {
        uint16_t bit;
        char const* name;
    } const kNames[] = {{0x8000, "alias"},         {0x4000, "invisible"},      {0x2000, "bundle"},
                        {0x1000, "name locked"},   {0x0800, "stationery"},     {0x0400, "custom icon"},
                        {0x0100, "inited"},        {0x0010, "extension hidden"}};
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", flags);
    std::string names;
    for (auto const& entry : kNames)
        if (flags & entry.bit)
            names += (names.empty() ? "" : ", ") + std::string(entry.name);
    if (flags & 0x000E)
        names += (names.empty() ? "label " : ", label ") + std::to_string((flags & 0x000E) >> 1);
    return std::string(text) + (names.empty() ? "" : " (" + names + ")");
}
} // namespace

bool IsDiskImageFile(char const* path)
{
    return IsUdifImageFile(path);
}

bool DumpImageFile(char const* path)
{
    CFileDescriptor const file(open(path, O_RDONLY | O_CLOEXEC));
    int const fd = file.Get();
    struct stat info;
    if (!file.IsOpen() || fstat(fd, &info) != 0)
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to read the disk image '%s'.\n", path);
        return false;
    }
    // SIGINT, SIGTERM and SIGHUP stop the reading at its next read; main then exits with 128 + N.
    PauseHereIfTestAsks("dump");
    return DumpDiskImage([fd](uint64_t offset, uint8_t* data, size_t size,
                                         std::string* error) { return ReadAllAt(fd, data, size, offset, error); },
                                    uint64_t(info.st_size), path, [] { return GetPendingInterrupt() != 0; });
}

namespace
{
// What the dump prints of a volume, gathered from either file system.
struct CVolumeFacts
{
    std::string volumeName;
    std::string openFolder; // as printed: "(none)", a quoted path or "(missing: ...)"
    struct CDatabase
    {
        std::string path;
        bool inRoot = false; // the root window's, which names the background picture
        std::function<bool(std::vector<uint8_t>*, std::string*)> read;
    };
    std::vector<CDatabase> databases;
    std::vector<std::pair<std::string, uint16_t>> flagged;
    std::function<std::string(uint32_t)> pathOf; // an item's path by its ID
};

bool PrintVolumeFacts(CVolumeFacts facts, char const* label)
{
    std::sort(facts.databases.begin(), facts.databases.end(),
              [](auto const& a, auto const& b) { return a.path < b.path; });
    std::sort(facts.flagged.begin(), facts.flagged.end());
    bool allRead = true;
    std::string background = "(none)";
    for (CVolumeFacts::CDatabase const& database : facts.databases)
    {
        std::printf("%s:\n", Quote(database.path).c_str());
        std::vector<uint8_t> bytes, alias;
        std::string error;
        if (!database.read(&bytes, &error))
        {
            std::fflush(stdout);
            std::fprintf(stderr, "Error: Unable to read '%s' in the disk image '%s': %s.\n", database.path.c_str(),
                         label, error.c_str());
            allRead = false;
            continue;
        }
        allRead = PrintDatabase(bytes, database.inRoot ? &alias : nullptr) && allRead;
        if (!alias.empty())
            background = DescribeAliasTarget(facts.pathOf, alias);
    }
    std::printf("Volume name: %s\n", Quote(facts.volumeName).c_str());
    std::printf("Open folder: %s\n", facts.openFolder.c_str());
    std::printf("Background picture: %s\n", background.c_str());
    for (auto const& [path, flags] : facts.flagged)
        std::printf("Finder flags: %s %s\n", Quote(path).c_str(), DescribeFinderFlags(flags).c_str());
    return allRead;
}

// An APFS volume's facts. APFS keeps no folder to open on mount.
bool DumpApfsVolume(CApfsReadAt const& volume, char const* label)
{
    std::string error;
    CApfsVolumeListing listing;
    if (!ReadApfsVolumeListing(volume, &listing, &error))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to read the disk image '%s': %s.\n", label, error.c_str());
        return false;
    }
    CVolumeFacts facts;
    facts.volumeName = listing.volumeName;
    facts.openFolder = "(none)";
    facts.pathOf = [&](uint32_t id) { return GetApfsItemPath(listing, id); };
    for (auto const& [id, item] : listing.items)
    {
        std::string const path = GetApfsItemPath(listing, id);
        if (path.empty())
            continue;
        if (item.kind == EVolumeItemKind::File && item.name == ".DS_Store")
            facts.databases.push_back({path, item.parent == kApfsRootInode,
                                       [&, file = &item](std::vector<uint8_t>* bytes, std::string* why) {
                                           return ReadApfsFileBytes(volume, listing, *file, kMaxDatabaseBytes, bytes, why);
                                       }});
        if (item.finderFlags != 0)
            facts.flagged.emplace_back(path, item.finderFlags);
    }
    return PrintVolumeFacts(std::move(facts), label);
}
// A signed image also names its signature; an unsigned one prints nothing more.
bool PrintImageSignature(CImageReadAt const& read, uint64_t fileSize, char const* label)
{
    std::string error;
    std::vector<std::string> signature;
    if (!DescribeImageSignature(read, fileSize, &signature, &error))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to read the code signature of the disk image '%s': %s.\n", label,
                     error.c_str());
        return false;
    }
    for (std::string const& line : signature)
        std::printf("%s\n", line.c_str());
    return true;
}
} // namespace

bool DumpDiskImage(CImageReadAt const& read, uint64_t fileSize, char const* label, std::function<bool()> stop)
{
    std::string error;
    CUdifImageReader disk;
    disk.SetStopCheck(std::move(stop));
    CPartitionPlace place;
    CHfsVolumeListing listing;
    CReadAt const readDisk = [&disk](uint64_t offset, uint8_t* data, size_t size, std::string* why)
    { return disk.ReadDisk(offset, data, size, why); };
    CReadAt const volume = [&](uint64_t offset, uint8_t* data, size_t size, std::string* why) {
        if (offset > place.size || size > place.size - offset)
        {
            *why = "the volume reaches past its partition";
            return false;
        }
        return readDisk(place.offset + offset, data, size, why);
    };
    uint8_t first[64] = {};
    if (disk.Open(read, fileSize, &error) && FindMacPartition(readDisk, disk.GetDiskSize(), &place, &error) && place.size >= sizeof first &&
        disk.ReadDisk(place.offset, first, sizeof first, &error) && IsApfsContainer(first, sizeof first))
    {
        bool const printed = DumpApfsVolume(volume, label);
        return PrintImageSignature(read, fileSize, label) && printed;
    }
    if (!error.empty() || !ReadHfsVolumeListing(volume, &listing, &error))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to read the disk image '%s': %s.\n", label, error.c_str());
        return false;
    }

    CVolumeFacts facts;
    facts.volumeName = listing.volumeName;
    facts.pathOf = [&](uint32_t id) { return GetHfsItemPath(listing, id); };
    for (CHfsListedItem const& item : listing.items)
    {
        if (!item.folder && item.name == ".DS_Store")
            facts.databases.push_back({GetHfsItemPath(listing, item.id), item.parentId == kHfsRootFolderId,
                                       [&, file = &item](std::vector<uint8_t>* bytes, std::string* why) {
                                           return ReadHfsDataFork(volume, listing, file->dataFork, kMaxDatabaseBytes,
                                                                  bytes, why);
                                       }});
        if (item.finderFlags != 0)
            facts.flagged.emplace_back(GetHfsItemPath(listing, item.id), item.finderFlags);
    }
    uint32_t const openFolder = listing.header.finderInfo[2];
    std::string const openPath = GetHfsItemPath(listing, openFolder);
    facts.openFolder = openFolder == 0        ? "(none)"
                       : openPath.empty() ? "(missing: ID " + std::to_string(openFolder) + ")"
                                          : Quote(openPath);
    bool const printed = PrintVolumeFacts(std::move(facts), label);
    return PrintImageSignature(read, fileSize, label) && printed;
}
