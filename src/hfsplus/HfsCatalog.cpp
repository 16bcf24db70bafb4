// The catalog's records for every item of a volume, in key order, with the names checked for clashes.
#include "hfsplus/HfsCatalog.h"

#include "hfsplus/HfsNames.h"
#include "hfsplus/HfsVolumeHeader.h"
#include "io/ByteOrder.h"
#include "io/MacTime.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr size_t kFolderRecordSize = 88;
constexpr size_t kFileRecordSize = 248;
constexpr uint16_t kThreadExists = 0x0002;
constexpr uint16_t kHasDateAdded = 0x0080;
constexpr uint32_t kSymlinkType = 0x736C6E6B;    // 'slnk'
constexpr uint32_t kSymlinkCreator = 0x72686170; // 'rhap'

// One catalog record to be: a file or folder record keyed by its name, or a thread record keyed by
// the item's own ID with an empty name. Kept small, as there are two per item.
struct CEntry
{
    uint32_t parentId;
    uint32_t item : 31;
    uint32_t thread : 1;
};

std::u16string const kNoName;

uint32_t GetParentId(std::vector<CHfsItem> const& items, CHfsItem const& item)
{
    return &item == &items[0] ? kHfsRootParentId : items[item.parent].id;
}

void PutDatesAndOwner(uint8_t* p, CHfsItem const& item)
{
    for (int i = 0; i < 4; ++i) // created, content modified, attributes modified, accessed
        PutBe32(p + 12 + 4 * i, item.date);
    PutBe32(p + 32, kHfsUnknownOwner);
    PutBe32(p + 36, kHfsUnknownGroup);
    PutBe16(p + 42, item.mode);
    // Finder info (TN1150), the same places in file and folder records:
    //   48  16  FileInfo (fileType, fileCreator, finderFlags at +8, location) or FolderInfo
    //           (windowBounds, finderFlags at +8, location)
    //   64  16  ExtendedFileInfo / ExtendedFolderInfo ("Date Added" in the reserved word at +4)
    PutBe16(p + kHfsFinderFlagsOffset, item.finderFlags);
    // The Finder's "Date Added", kept in the extended Finder info as Unix time.
    PutBe32(p + 68, uint32_t(std::max<int64_t>(0, int64_t(item.date) - kSecondsFrom1904To1970)));
}

// Catalog records (TN1150), big-endian, each after its key (see MakeHfsCatalogKey).
//
// HFSPlusCatalogFolder (88 bytes) and HFSPlusCatalogFile (248 bytes), sharing the first 88:
//   offset size meaning
//        0    2 recordType: 1 folder, 2 file
//        2    2 flags: 0x0002 thread exists (files), 0x0080 has "Date Added"
//        4    4 folder: valence (number of children); file: reserved
//        8    4 folderID / fileID
//       12   16 createDate, contentModDate, attributeModDate, accessDate
//       28    4 backupDate (0)
//       32   16 HFSPlusBSDInfo: ownerID 4, groupID 4, adminFlags 1, ownerFlags 1, fileMode 2 (at
//               42), special 4
//       48   16 userInfo: FileInfo (fileType, fileCreator, finderFlags, location) / FolderInfo
//       64   16 finderInfo: ExtendedFileInfo / ExtendedFolderInfo
//       80    4 textEncoding
//       84    4 reserved
//   file only:
//       88   80 dataFork (HFSPlusForkData)
//      168   80 resourceFork (empty)
//
// HFSPlusCatalogThread (keyed by the item's own ID and an empty name):
//        0    2 recordType: 3 folder thread, 4 file thread
//        2    2 reserved
//        4    4 parentID
//        8    2 name length in UTF-16 units
//       10  2*n name, big-endian UTF-16
std::vector<uint8_t> MakeRecord(std::vector<CHfsItem> const& items, CEntry const& entry)
{
    CHfsItem const& item = items[entry.item];
    std::vector<uint8_t> record = MakeHfsCatalogKey(entry.parentId, entry.thread ? kNoName : item.name);
    size_t const at = record.size();
    bool const folder = item.kind == EHfsItemKind::Folder;
    if (entry.thread)
    {
        record.resize(at + 10 + 2 * item.name.size());
        uint8_t* p = record.data() + at;
        PutBe16(p, folder ? kHfsFolderThreadRecord : kHfsFileThreadRecord);
        PutBe32(p + 4, GetParentId(items, item));
        PutBe16(p + 8, uint16_t(item.name.size()));
        for (size_t i = 0; i < item.name.size(); ++i)
            PutBe16(p + 10 + 2 * i, item.name[i]);
        return record;
    }
    record.resize(at + (folder ? kFolderRecordSize : kFileRecordSize));
    uint8_t* p = record.data() + at;
    PutBe16(p, folder ? kHfsFolderRecord : kHfsFileRecord);
    PutBe32(p + 8, item.id);
    PutDatesAndOwner(p, item);
    if (folder)
    {
        PutBe16(p + 2, kHasDateAdded);
        PutBe32(p + 4, item.valence);
        return record;
    }
    PutBe16(p + 2, kThreadExists | kHasDateAdded);
    if (item.kind == EHfsItemKind::Symlink)
    {
        PutBe32(p + 48, kSymlinkType);
        PutBe32(p + 52, kSymlinkCreator);
    }
    PutHfsForkData(p + 88, MakeHfsForkData(item.size, 0, item.startBlock, item.blockCount));
    return record;
}

} // namespace

// HFSPlusCatalogKey (TN1150):
//   offset size meaning
//        0    2 keyLength, the bytes after this field: 6 + 2 * n
//        2    4 parentID
//        6    2 name length n in UTF-16 units
//        8  2*n name, big-endian UTF-16 (stored form, see HfsNames)
std::vector<uint8_t> MakeHfsCatalogKey(uint32_t parentId, std::u16string const& name)
{
    std::vector<uint8_t> key(8 + 2 * name.size());
    PutBe16(key.data(), uint16_t(6 + 2 * name.size()));
    PutBe32(key.data() + 2, parentId);
    PutBe16(key.data() + 6, uint16_t(name.size()));
    for (size_t i = 0; i < name.size(); ++i)
        PutBe16(key.data() + 8 + 2 * i, name[i]);
    return key;
}

bool ForEachHfsCatalogRecord(std::vector<CHfsItem> const& items, CHfsItemDescriber const& describe,
                             std::function<bool(std::vector<uint8_t> const& record)> const& visit,
                             std::string* error)
{
    auto const describeItem = [&items, &describe](size_t index)
    { return index == 0 ? std::string("the volume's root") : describe(items[index]); };
    // Catalog node IDs are 32 bits, so a volume can't hold more items than an entry can index.
    if (items.size() >= (size_t(1) << 31))
    {
        *error = "the volume holds more items than an HFS+ catalog can";
        return false;
    }
    auto const nameOf = [&items](CEntry const& entry) -> std::u16string const&
    { return entry.thread ? kNoName : items[entry.item].name; };
    std::vector<CEntry> entries;
    entries.reserve(items.size() * 2);
    for (size_t i = 0; i < items.size(); ++i)
    {
        entries.push_back({GetParentId(items, items[i]), uint32_t(i), 0});
        entries.push_back({items[i].id, uint32_t(i), 1});
    }
    auto const compare = [&nameOf](CEntry const& a, CEntry const& b)
    {
        if (a.parentId != b.parentId)
            return a.parentId < b.parentId;
        return CompareHfsNames(nameOf(a), nameOf(b)) < 0;
    };
    std::sort(entries.begin(), entries.end(), compare);

    for (size_t i = 1; i < entries.size(); ++i)
    {
        CEntry const& a = entries[i - 1];
        CEntry const& b = entries[i];
        if (a.parentId != b.parentId || CompareHfsNames(nameOf(a), nameOf(b)) != 0)
            continue;
        if (a.thread || b.thread)
            *error = "the name of " + describeItem(a.thread ? b.item : a.item) +
                     " holds only characters that HFS+ ignores in names";
        else
            *error = describeItem(a.item) + " and " + describeItem(b.item) +
                     " have the same name on an HFS+ volume, where case and Unicode composition don't count";
        return false;
    }

    for (CEntry const& entry : entries)
        if (!visit(MakeRecord(items, entry)))
            return false;
    return true;
}
