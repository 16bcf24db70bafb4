// Writes a complete, unmounted, non-journaled HFS+ volume in one pass: layout first (nothing is
// written before the whole tree is known to fit), then metadata, file data and the two headers.
#include "hfsplus/HfsBTree.h"
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsNames.h"
#include "hfsplus/HfsSourceTree.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"
#include "io/MacTime.h"

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

std::string JoinSourcePath(std::string const& root, std::string const& path)
{
    return path.empty() ? root : root + "/" + path;
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

// Packs the catalog from the items, handing each node but the header to `sink`; without one the
// nodes are only counted. Records are made one at a time: a large tree is never held twice over.
bool PackCatalog(std::vector<CHfsItem> const& items, CHfsBTreeNodeSink sink, CHfsBTree* tree, std::string* error)
{
    if (!sink)
        sink = [](uint32_t, uint8_t const*, std::string*) { return true; };
    CHfsBTreePacker packer(kCatalogNodeSize, std::move(sink));
    auto const add = [&packer, error](std::vector<uint8_t> const& record) { return packer.Add(record, error); };
    return ForEachHfsCatalogRecord(items, add, error) && packer.Finish(tree, error);
}

// Packs the catalog again, now that every fork has its place, straight into the volume; its shape
// must be the one `planned` was laid out with.
bool WriteCatalog(int fd, uint64_t at, std::vector<CHfsItem> const& items, CHfsBTree const& planned,
                  std::string* error)
{
    CHfsBTree written;
    CHfsBTreeNodeSink const sink = [fd, at](uint32_t number, uint8_t const* node, std::string* why)
    { return WriteAllAt(fd, node, kCatalogNodeSize, at + uint64_t(number) * kCatalogNodeSize, why); };
    if (!PackCatalog(items, sink, &written, error))
        return false;
    if (written.GetUsedNodes() != planned.GetUsedNodes() || written.rootNode != planned.rootNode ||
        written.depth != planned.depth)
    {
        *error = "internal error: the catalog changed size while the volume was laid out";
        return false;
    }
    return WriteAllAt(fd, planned.nodes.data(), kCatalogNodeSize, at, error);
}

bool WriteFileData(int fd, uint64_t offset, std::vector<CHfsItem> const& items, std::string const& sourceRoot,
                   CHfsVolumeSettings::CProgress const& progress, std::string* error)
{
    uint64_t total = 0;
    for (CHfsItem const& item : items)
        total += item.kind == EHfsItemKind::File ? item.size : 0;
    uint64_t done = 0;
    std::function<bool(uint64_t)> copied;
    if (progress)
        copied = [&](uint64_t bytes) { return progress(done += bytes, total); };
    if (progress && !progress(0, total))
    {
        *error = "interrupted";
        return false;
    }
    // Items are laid out one after another, so the data of small files is written in few large writes;
    // the gap between two is at most the unused tail of a block.
    CGatheredWriter out(fd, kHfsBlockSize);
    for (CHfsItem const& item : items)
    {
        uint64_t const at = offset + uint64_t(item.startBlock) * kHfsBlockSize;
        if (item.kind == EHfsItemKind::Symlink)
        {
            if (!out.WriteAt(item.linkTarget.data(), item.linkTarget.size(), at, error))
                return false;
        }
        else if (item.kind == EHfsItemKind::File && item.size > 0)
        {
            if (!CopyFileDataAt(&out, at, JoinSourcePath(sourceRoot, item.path), item.size, error, copied))
                return false;
        }
    }
    return out.Flush(error);
}

} // namespace

uint64_t GetMinimumHfsVolumeSize()
{
    return kMinimumVolumeSize;
}

bool WriteHfsVolume(int fd, uint64_t offset, CHfsVolumeSettings const& settings,
                    std::string const& sourceRoot, std::string* error)
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
    std::u16string volumeName;
    std::string nameError;
    if (settings.volumeName.empty())
    {
        *error = "the volume needs a name";
        return false;
    }
    if (!ConvertNameToHfs(settings.volumeName, &volumeName, &nameError))
    {
        *error = "bad volume name: " + nameError;
        return false;
    }

    std::vector<CHfsItem> items;
    uint32_t nextCatalogId = 0;
    if (!ScanHfsSourceTree(sourceRoot, &items, error) ||
        !AssignHfsCatalogIds(&items, settings.fixedIds, &nextCatalogId, error))
        return false;
    items[0].name = volumeName;
    if (settings.fixedDate != 0)
        for (CHfsItem& item : items)
            item.date = settings.fixedDate;
    for (CHfsItem& item : items)
    {
        auto flags = settings.finderFlags.find(item.path);
        if (flags != settings.finderFlags.end())
            item.finderFlags = flags->second;
    }

    // The catalog's size doesn't depend on where the data goes, so it is packed once to learn its
    // size (and to check every name), and again, into the volume, once every fork has its place.
    CHfsBTree catalog;
    CLayout layout;
    if (!PackCatalog(items, {}, &catalog, error) ||
        !PlanLayout(settings.sizeBytes, catalog.GetUsedNodes(), &items, &layout, error))
        return false;
    catalog.nodes.assign(kCatalogNodeSize, 0); // the header node alone
    CHfsBTreeParams catalogParams;
    catalogParams.nodeSize = kCatalogNodeSize;
    catalogParams.maxKeyLength = kHfsCatalogMaxKeyLength;
    catalogParams.attributes = kHfsBTreeBigKeys | kHfsBTreeVariableIndexKeys;
    catalogParams.compareType = kCaseFoldingCompare;
    catalogParams.clumpSize = kCatalogClumpSize;
    CHfsBTree extents;
    CHfsBTreeParams extentsParams;
    extentsParams.nodeSize = kExtentsNodeSize;
    extentsParams.maxKeyLength = kExtentsMaxKeyLength;
    extentsParams.attributes = kHfsBTreeBigKeys;
    extentsParams.clumpSize = kExtentsClumpSize;
    if (!FinishHfsBTreeHeader(&catalog, layout.catalogNodes, catalogParams, error) ||
        !PackHfsBTree({}, kExtentsNodeSize, &extents, error) ||
        !FinishHfsBTreeHeader(&extents, layout.extentsNodes, extentsParams, error))
        return false;
    // An empty attributes file: some readers insist on one.
    CHfsBTree attributes;
    CHfsBTreeParams attributesParams;
    attributesParams.nodeSize = kAttributesNodeSize;
    attributesParams.maxKeyLength = kAttributesMaxKeyLength;
    attributesParams.attributes = kHfsBTreeBigKeys | kHfsBTreeVariableIndexKeys;
    attributesParams.clumpSize = kAttributesClumpSize;
    if (!PackHfsBTree({}, kAttributesNodeSize, &attributes, error) ||
        !FinishHfsBTreeHeader(&attributes, layout.attributesNodes, attributesParams, error))
        return false;

    CHfsBitmap bitmap(layout.totalBlocks);
    bitmap.MarkUsed(0, layout.dataEnd);
    if (layout.altHeaderInLastBlock)
        bitmap.MarkUsed(layout.totalBlocks - 1, 1);

    CHfsVolumeHeader header;
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
    uint8_t headerBytes[kHfsVolumeHeaderSize];
    PutHfsVolumeHeader(headerBytes, header);

    // Everything that isn't written below must read as zeros: clear the whole range first.
    uint64_t const block = kHfsBlockSize;
    return EnsureFileSize(fd, offset + settings.sizeBytes, error) &&
           ZeroFileRange(fd, offset, settings.sizeBytes, error) &&
           bitmap.WriteUsedBytes(
               [fd, at = offset + layout.bitmapStart * block](uint64_t position, uint8_t const* data, size_t size,
                                                              std::string* why)
               { return WriteAllAt(fd, data, size, at + position, why); },
               error) &&
           WriteAllAt(fd, extents.nodes.data(), extents.nodes.size(), offset + layout.extentsStart * block,
                      error) &&
           WriteAllAt(fd, attributes.nodes.data(), attributes.nodes.size(),
                      offset + layout.attributesStart * block, error) &&
           WriteCatalog(fd, offset + layout.catalogStart * block, items, catalog, error) &&
           WriteFileData(fd, offset, items, sourceRoot, settings.progress, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + kHfsVolumeHeaderOffset, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + settings.sizeBytes - 1024, error);
}
