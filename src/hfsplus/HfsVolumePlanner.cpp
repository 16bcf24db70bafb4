// Laying out a complete, unmounted, non-journaled HFS+ volume from a volume tree before any byte of it
// is written: the items with their names, IDs and places, the B-tree summaries and the volume header.
#include "hfsplus/HfsBTree.h"
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsItems.h"
#include "hfsplus/HfsNames.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"
#include "io/MacTime.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

namespace
{

constexpr uint16_t kCatalogNodeSize = 8192;
constexpr uint16_t kExtentsNodeSize = 4096;
constexpr uint32_t kBlocksPerCatalogNode = kCatalogNodeSize / kHfsBlockSize;
constexpr uint16_t kExtentsMaxKeyLength = 10;
constexpr uint16_t kAttributesNodeSize = 8192;
constexpr uint32_t kBlocksPerAttributesNode = kAttributesNodeSize / kHfsBlockSize;
constexpr uint16_t kAttributesMaxKeyLength = 266;
constexpr uint32_t kAttributesClumpSize = 65536;
constexpr uint8_t kCaseFoldingCompare = 0xCF;
constexpr uint32_t kDataClumpSize = 65536;
constexpr uint32_t kCatalogClumpSize = 65536;
constexpr uint32_t kExtentsClumpSize = 32768;
// Room to grow on a later read-write mount, given up when the volume is tight.
constexpr uint32_t kSpareExtentsNodes = 7;
constexpr uint32_t kSpareAttributesNodes = 3;
constexpr uint32_t kMinSpareCatalogNodes = 8;
constexpr uint64_t kMinimumVolumeSize = 512 * 1024;

uint32_t DivideRoundingUp(uint64_t a, uint64_t b)
{
    return uint32_t((a + b - 1) / b);
}

std::string FormatMegabytes(uint64_t bytes)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024.0 * 1024.0));
    return text;
}

// A stable 64-bit volume identifier: the same volume (name, creation date, size) written again
// keeps its identity, and two volumes that differ get different ones.
uint64_t MakeVolumeIdentifier(CHfsVolumeSettings const& settings, std::u16string const& storedName)
{
    uint64_t hash = 14695981039346656037ull;
    auto const mix = [&hash](uint8_t byte)
    {
        hash ^= byte;
        hash *= 1099511628211ull;
    };
    for (char16_t c : storedName) // the stored form: the same however the name was normalized
    {
        mix(uint8_t(c));
        mix(uint8_t(c >> 8));
    }
    for (int i = 0; i < 4; ++i)
        mix(uint8_t(settings.createDate >> (8 * i)));
    for (int i = 0; i < 8; ++i)
        mix(uint8_t(settings.sizeBytes >> (8 * i)));
    return hash ? hash : 1;
}

// The volume in 4096-byte allocation blocks (TN1150), in the order PlanLayout places them:
//   block / byte                meaning
//   block 0                     bytes 0-1023 boot blocks (zero), 1024-1535 the volume header
//   from block 1                allocation file (bitmap), one bit per block
//   then                        extents overflow B-tree, 4096-byte nodes
//   then                        attributes B-tree, 8192-byte nodes
//   then                        catalog B-tree, 8192-byte nodes
//   then                        file data, each file's data fork in one extent
//   byte size - 1024            alternate volume header (the last block is marked used when it
//                               holds it), then 512 reserved bytes
struct CLayout
{
    uint32_t totalBlocks = 0;
    uint32_t bitmapStart = 1, bitmapBlocks = 0;
    uint32_t extentsStart = 0, extentsNodes = 0;
    uint32_t attributesStart = 0, attributesNodes = 0;
    uint32_t catalogStart = 0, catalogNodes = 0;
    uint32_t dataStart = 0, dataEnd = 0;
    bool altHeaderInLastBlock = false;
};

uint32_t CountDataBlocks(std::vector<CHfsItem> const& items)
{
    uint64_t blocks = 0;
    for (CHfsItem const& item : items)
        if (item.kind != EHfsItemKind::Folder)
            blocks += DivideRoundingUp(item.size, kHfsBlockSize);
    return uint32_t(std::min<uint64_t>(blocks, UINT32_MAX));
}

// Places the metadata files and then the file data in one run each; spare B-tree nodes only as far
// as the space allows.
bool PlanLayout(uint64_t sizeBytes, uint32_t usedCatalogNodes, std::vector<CHfsItem>* items, CLayout* layout,
                std::string* error)
{
    CLayout l;
    l.totalBlocks = uint32_t(sizeBytes / kHfsBlockSize);
    l.bitmapBlocks = DivideRoundingUp(DivideRoundingUp(l.totalBlocks, 8), kHfsBlockSize);
    l.altHeaderInLastBlock = sizeBytes - 1024 < uint64_t(l.totalBlocks) * kHfsBlockSize;
    uint64_t const dataBlocks = CountDataBlocks(*items);
    uint64_t const fixed = 1 + l.bitmapBlocks + (l.altHeaderInLastBlock ? 1 : 0) + dataBlocks;
    uint64_t const minimum =
        fixed + 1 + kBlocksPerAttributesNode + uint64_t(usedCatalogNodes) * kBlocksPerCatalogNode;
    if (minimum > l.totalBlocks)
    {
        *error = "the files don't fit in the volume: they need " + FormatMegabytes(minimum * kHfsBlockSize) +
                 " (with the volume's own structures) but the volume holds " +
                 FormatMegabytes(uint64_t(l.totalBlocks) * kHfsBlockSize);
        return false;
    }
    uint64_t spare = l.totalBlocks - minimum;
    l.extentsNodes = 1 + uint32_t(std::min<uint64_t>(kSpareExtentsNodes, spare / 2));
    spare -= l.extentsNodes - 1;
    l.attributesNodes =
        1 + uint32_t(std::min<uint64_t>(kSpareAttributesNodes, spare / 2 / kBlocksPerAttributesNode));
    spare -= (l.attributesNodes - 1) * kBlocksPerAttributesNode;
    uint32_t wantedSpare = std::max(kMinSpareCatalogNodes, usedCatalogNodes / 4);
    l.catalogNodes =
        usedCatalogNodes + uint32_t(std::min<uint64_t>(wantedSpare, spare / kBlocksPerCatalogNode));
    l.catalogNodes = std::min(l.catalogNodes, GetHfsBTreeMapCapacity(kCatalogNodeSize));

    l.extentsStart = l.bitmapStart + l.bitmapBlocks;
    l.attributesStart = l.extentsStart + l.extentsNodes;
    l.catalogStart = l.attributesStart + l.attributesNodes * kBlocksPerAttributesNode;
    l.dataStart = l.catalogStart + l.catalogNodes * kBlocksPerCatalogNode;
    uint32_t next = l.dataStart;
    for (CHfsItem& item : *items)
    {
        if (item.kind == EHfsItemKind::Folder)
            continue;
        item.blockCount = DivideRoundingUp(item.size, kHfsBlockSize);
        item.startBlock = item.blockCount ? next : 0;
        next += item.blockCount;
    }
    l.dataEnd = next;
    *layout = l;
    return true;
}

// Counts the catalog's nodes from the items (and checks every name). Records are made one at a time:
// a large tree is never held twice over.
bool CountCatalog(CHfsVolumePlan const& plan, CHfsBTree* tree, std::string* error)
{
    CHfsBTreePacker packer(kCatalogNodeSize, [](uint32_t, uint8_t const*, std::string*) { return true; });
    auto const add = [&packer, error](std::vector<uint8_t> const& record)
    { return packer.Add(record, error); };
    return ForEachHfsCatalogRecord(plan.items, plan.describe, add, error) && packer.Finish(tree, error);
}

bool CheckVolumeSettings(CHfsVolumeSettings const& settings, std::u16string* volumeName, std::string* error)
{
    if (settings.sizeBytes < kMinimumVolumeSize)
    {
        *error = "a volume of " + std::to_string(settings.sizeBytes) +
                 " bytes is too small for HFS+ (at least " + std::to_string(kMinimumVolumeSize) + ")";
        return false;
    }
    if (settings.sizeBytes / kHfsBlockSize > UINT32_MAX)
    {
        *error = "a volume of " + std::to_string(settings.sizeBytes) + " bytes is too large for HFS+";
        return false;
    }
    std::string nameError;
    if (settings.volumeName.empty())
    {
        *error = "the volume needs a name";
        return false;
    }
    if (!ConvertNameToHfs(settings.volumeName, volumeName, &nameError))
    {
        *error = "bad volume name: " + nameError;
        return false;
    }
    return true;
}

// The tree's items, breadth first with each folder's children in byte order of their names (the
// order catalog IDs are handed out in). `describePrefix` goes before an item's path in a refusal.
bool ConvertTree(CVolumeTree const& tree, std::string const& describePrefix, std::vector<CHfsItem>* items,
                 std::vector<size_t>* itemOfTreeItem, std::string* error)
{
    itemOfTreeItem->assign(tree.GetCount(), SIZE_MAX);
    (*itemOfTreeItem)[CVolumeTree::kRoot] = 0;
    items->clear();
    // At most one item per tree item: reserved once, so that growing never holds two copies.
    items->reserve(tree.GetCount());
    CHfsItem root;
    root.mode = uint16_t(S_IFDIR | 0755); // as a new volume's root, whatever the tree says
    root.date = ConvertToMacTime(tree.Get(CVolumeTree::kRoot).modifiedTime);
    root.finderFlags = tree.Get(CVolumeTree::kRoot).finderFlags;
    items->push_back(std::move(root));
    for (size_t folder = 0; folder < items->size(); ++folder)
    {
        if ((*items)[folder].kind != EHfsItemKind::Folder)
            continue;
        std::vector<size_t> children = tree.Get((*items)[folder].source).children;
        std::stable_sort(children.begin(), children.end(),
                         [&tree](size_t a, size_t b) { return tree.Get(a).name < tree.Get(b).name; });
        for (size_t child : children)
        {
            CVolumeItem const& source = tree.Get(child);
            CHfsItem item;
            item.source = child;
            item.parent = folder;
            item.date = ConvertToMacTime(source.modifiedTime);
            item.finderFlags = source.finderFlags;
            switch (source.kind)
            {
            case EVolumeItemKind::Folder:
                item.kind = EHfsItemKind::Folder;
                item.mode = uint16_t(S_IFDIR | (source.mode & 07777));
                break;
            case EVolumeItemKind::File:
                item.kind = EHfsItemKind::File;
                item.mode = uint16_t(S_IFREG | (source.mode & 07777));
                item.size = source.size;
                if (source.data.bytes && source.data.bytes->size() != item.size)
                {
                    *error = "internal error: " + tree.GetPath(child) + " holds " +
                             std::to_string(source.data.bytes->size()) + " bytes but is listed with " +
                             std::to_string(item.size);
                    return false;
                }
                break;
            case EVolumeItemKind::Symlink:
                item.kind = EHfsItemKind::Symlink;
                item.mode = uint16_t(S_IFLNK | 0755);
                item.size = source.linkTarget.size();
                break;
            }
            std::string nameError;
            if (!ConvertNameToHfs(source.name, &item.name, &nameError))
            {
                *error =
                    "cannot put " + describePrefix + tree.GetPath(child) + " on an HFS+ volume: " + nameError;
                return false;
            }
            (*itemOfTreeItem)[child] = items->size();
            items->push_back(std::move(item));
        }
        (*items)[folder].valence = uint32_t(children.size());
    }
    return true;
}

CHfsBTreeParams MakeParams(uint16_t nodeSize, uint16_t maxKeyLength, uint32_t attributes, uint8_t compareType,
                           uint32_t clumpSize)
{
    CHfsBTreeParams params;
    params.nodeSize = nodeSize;
    params.maxKeyLength = maxKeyLength;
    params.attributes = attributes;
    params.compareType = compareType;
    params.clumpSize = clumpSize;
    return params;
}

} // namespace

uint64_t GetMinimumHfsVolumeSize()
{
    return kMinimumVolumeSize;
}

bool PlanHfsVolumeFromTree(CVolumeTree const& tree, CHfsVolumeSettings const& settings,
                           std::string const& describePrefix, CHfsVolumePlan* plan, std::string* error)
{
    std::u16string volumeName;
    if (!CheckVolumeSettings(settings, &volumeName, error))
        return false;
    CHfsVolumePlan p;
    p.tree = &tree;
    p.describe = [&tree](CHfsItem const& item) { return tree.GetPath(item.source); };
    std::vector<CHfsItem>& items = p.items;
    uint32_t nextCatalogId = 0;
    std::vector<size_t> itemOfTreeItem;
    CHfsItemFinder const findItem = [&tree, &itemOfTreeItem](std::string const& path)
    {
        size_t const found = tree.FindPath(path);
        return found == CVolumeTree::kNone ? SIZE_MAX : itemOfTreeItem[found];
    };
    if (!ConvertTree(tree, describePrefix, &items, &itemOfTreeItem, error) ||
        !AssignHfsCatalogIds(&items, settings.fixedIds, findItem, &nextCatalogId, error))
        return false;
    std::vector<size_t>().swap(itemOfTreeItem);
    items[0].name = volumeName;
    if (settings.fixedDate != 0)
        for (CHfsItem& item : items)
            item.date = settings.fixedDate;

    // The catalog's size doesn't depend on where the data goes, so it is packed here to learn its
    // size (and to check every name), and again, into the volume, once every fork has its place.
    CLayout layout;
    if (!CountCatalog(p, &p.catalog, error) ||
        !PlanLayout(settings.sizeBytes, p.catalog.GetUsedNodes(), &items, &layout, error))
        return false;
    p.catalog.nodes.assign(kCatalogNodeSize, 0); // the header node alone
    if (!FinishHfsBTreeHeader(&p.catalog, layout.catalogNodes,
                              MakeParams(kCatalogNodeSize, kHfsCatalogMaxKeyLength,
                                         kHfsBTreeBigKeys | kHfsBTreeVariableIndexKeys, kCaseFoldingCompare,
                                         kCatalogClumpSize),
                              error) ||
        !PackHfsBTree({}, kExtentsNodeSize, &p.extents, error) ||
        !FinishHfsBTreeHeader(
            &p.extents, layout.extentsNodes,
            MakeParams(kExtentsNodeSize, kExtentsMaxKeyLength, kHfsBTreeBigKeys, 0, kExtentsClumpSize),
            error))
        return false;
    // An empty attributes file: some readers insist on one.
    if (!PackHfsBTree({}, kAttributesNodeSize, &p.attributes, error) ||
        !FinishHfsBTreeHeader(&p.attributes, layout.attributesNodes,
                              MakeParams(kAttributesNodeSize, kAttributesMaxKeyLength,
                                         kHfsBTreeBigKeys | kHfsBTreeVariableIndexKeys, 0,
                                         kAttributesClumpSize),
                              error))
        return false;

    CHfsBitmap bitmap(layout.totalBlocks);
    bitmap.MarkUsed(0, layout.dataEnd);
    if (layout.altHeaderInLastBlock)
        bitmap.MarkUsed(layout.totalBlocks - 1, 1);

    CHfsVolumeHeader& header = p.header;
    header.createDate = settings.createDate ? settings.createDate : GetMacLocalTimeNow();
    header.modifyDate = settings.fixedDate ? settings.fixedDate : ConvertToMacTime(time(nullptr));
    header.checkedDate = header.modifyDate;
    for (size_t i = 1; i < items.size(); ++i)
        ++(items[i].kind == EHfsItemKind::Folder ? header.folderCount : header.fileCount);
    header.blockSize = kHfsBlockSize;
    header.totalBlocks = layout.totalBlocks;
    header.freeBlocks = bitmap.CountFree();
    header.nextAllocation = layout.dataEnd;
    header.rsrcClumpSize = kDataClumpSize;
    header.dataClumpSize = kDataClumpSize;
    header.nextCatalogId = nextCatalogId;
    header.writeCount = 1;
    header.encodingsBitmap = 1; // MacRoman
    header.finderInfo[2] = settings.openFolderId;
    uint64_t const identifier = MakeVolumeIdentifier(settings, volumeName);
    header.finderInfo[6] = uint32_t(identifier >> 32);
    header.finderInfo[7] = uint32_t(identifier);
    header.allocationFile = MakeHfsForkData(uint64_t(layout.bitmapBlocks) * kHfsBlockSize, kHfsBlockSize,
                                            layout.bitmapStart, layout.bitmapBlocks);
    header.extentsFile = MakeHfsForkData(uint64_t(layout.extentsNodes) * kExtentsNodeSize, kExtentsClumpSize,
                                         layout.extentsStart, layout.extentsNodes);
    header.attributesFile =
        MakeHfsForkData(uint64_t(layout.attributesNodes) * kAttributesNodeSize, kAttributesClumpSize,
                        layout.attributesStart, layout.attributesNodes * kBlocksPerAttributesNode);
    header.catalogFile = MakeHfsForkData(uint64_t(layout.catalogNodes) * kCatalogNodeSize, kCatalogClumpSize,
                                         layout.catalogStart, layout.catalogNodes * kBlocksPerCatalogNode);

    p.sizeBytes = settings.sizeBytes;
    p.dataEnd = layout.dataEnd;
    for (CHfsItem const& item : items)
        p.fileDataBytes += item.kind == EHfsItemKind::File ? item.size : 0;
    p.progress = settings.progress;
    *plan = std::move(p);
    return true;
}

bool PlanHfsVolume(CVolumeTree const& tree, CHfsVolumeSettings const& settings, CHfsVolumePlan* plan,
                   std::string* error)
{
    return PlanHfsVolumeFromTree(tree, settings, std::string(), plan, error);
}

void ShrinkHfsVolumePlan(CHfsVolumePlan* plan)
{
    // As ShrinkHfsVolume does on a written volume: everything from the start of the free run that
    // holds the block before the last one goes, and the new last block holds the alternate header.
    CHfsVolumeHeader& header = plan->header;
    uint32_t const oldTotal = header.totalBlocks;
    if (uint64_t(oldTotal) * kHfsBlockSize != plan->sizeBytes)
        return; // a volume whose alternate header lies past its last block keeps its size
    uint32_t const usedEnd = std::min(plan->dataEnd, oldTotal - 1);
    uint32_t const newTotal = std::max<uint32_t>(usedEnd + 1, uint32_t(kMinimumVolumeSize / kHfsBlockSize));
    if (newTotal >= oldTotal)
        return;
    CHfsBitmap bitmap(newTotal);
    bitmap.MarkUsed(0, plan->dataEnd);
    bitmap.MarkUsed(newTotal - 1, 1);
    header.totalBlocks = newTotal;
    header.freeBlocks = bitmap.CountFree();
    plan->sizeBytes = uint64_t(newTotal) * kHfsBlockSize;
}
