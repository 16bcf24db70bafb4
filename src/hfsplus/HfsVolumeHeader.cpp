// Encoding and decoding the HFS+ volume header and the fork data records it holds.
#include "hfsplus/HfsVolumeHeader.h"

#include "io/ByteOrder.h"

#include <cstring>

// HFSPlusForkData (TN1150), 80 bytes, big-endian:
//   offset size meaning
//        0    8 logicalSize, the fork's length in bytes
//        8    4 clumpSize
//       12    4 totalBlocks, allocation blocks of the fork
//       16   64 extents: eight HFSPlusExtentDescriptor { startBlock 4, blockCount 4 }
void PutHfsForkData(uint8_t* p, CHfsForkData const& fork)
{
    PutBe64(p, fork.logicalSize);
    PutBe32(p + 8, fork.clumpSize);
    PutBe32(p + 12, fork.totalBlocks);
    for (size_t i = 0; i < fork.extents.size(); ++i)
    {
        PutBe32(p + 16 + 8 * i, fork.extents[i].startBlock);
        PutBe32(p + 20 + 8 * i, fork.extents[i].blockCount);
    }
}

CHfsForkData GetHfsForkData(uint8_t const* p)
{
    CHfsForkData fork;
    fork.logicalSize = GetBe64(p);
    fork.clumpSize = GetBe32(p + 8);
    fork.totalBlocks = GetBe32(p + 12);
    for (size_t i = 0; i < fork.extents.size(); ++i)
    {
        fork.extents[i].startBlock = GetBe32(p + 16 + 8 * i);
        fork.extents[i].blockCount = GetBe32(p + 20 + 8 * i);
    }
    return fork;
}

CHfsForkData MakeHfsForkData(uint64_t logicalSize, uint32_t clumpSize, uint32_t startBlock,
                             uint32_t blockCount)
{
    CHfsForkData fork;
    fork.logicalSize = logicalSize;
    fork.clumpSize = clumpSize;
    fork.totalBlocks = blockCount;
    if (blockCount)
        fork.extents[0] = {startBlock, blockCount};
    return fork;
}

// HFSPlusVolumeHeader (TN1150), 512 bytes, big-endian; dates are seconds since 1904:
//   offset size meaning
//        0    2 signature 'H+'
//        2    2 version, 4
//        4    4 attributes (unmounted, unused nodes zeroed, ...)
//        8    4 lastMountedVersion
//       12    4 journalInfoBlock
//       16   16 createDate (local time), modifyDate, backupDate, checkedDate
//       32    4 fileCount
//       36    4 folderCount (the root not counted)
//       40    4 blockSize, bytes per allocation block
//       44    4 totalBlocks
//       48    4 freeBlocks
//       52    4 nextAllocation
//       56    4 rsrcClumpSize
//       60    4 dataClumpSize
//       64    4 nextCatalogID
//       68    4 writeCount
//       72    8 encodingsBitmap
//       80   32 finderInfo[8]: [2] the folder opened on mount, [6..7] the volume identifier
//      112   80 allocationFile fork data
//      192   80 extentsFile
//      272   80 catalogFile
//      352   80 attributesFile
//      432   80 startupFile
void PutHfsVolumeHeader(uint8_t* p, CHfsVolumeHeader const& h)
{
    memset(p, 0, kHfsVolumeHeaderSize);
    PutBe16(p + 0, h.signature);
    PutBe16(p + 2, h.version);
    PutBe32(p + 4, h.attributes);
    PutBe32(p + 8, h.lastMountedVersion);
    PutBe32(p + 12, h.journalInfoBlock);
    PutBe32(p + 16, h.createDate);
    PutBe32(p + 20, h.modifyDate);
    PutBe32(p + 24, h.backupDate);
    PutBe32(p + 28, h.checkedDate);
    PutBe32(p + 32, h.fileCount);
    PutBe32(p + 36, h.folderCount);
    PutBe32(p + 40, h.blockSize);
    PutBe32(p + 44, h.totalBlocks);
    PutBe32(p + 48, h.freeBlocks);
    PutBe32(p + 52, h.nextAllocation);
    PutBe32(p + 56, h.rsrcClumpSize);
    PutBe32(p + 60, h.dataClumpSize);
    PutBe32(p + 64, h.nextCatalogId);
    PutBe32(p + 68, h.writeCount);
    PutBe64(p + 72, h.encodingsBitmap);
    for (size_t i = 0; i < h.finderInfo.size(); ++i)
        PutBe32(p + 80 + 4 * i, h.finderInfo[i]);
    PutHfsForkData(p + 112, h.allocationFile);
    PutHfsForkData(p + 192, h.extentsFile);
    PutHfsForkData(p + 272, h.catalogFile);
    PutHfsForkData(p + 352, h.attributesFile);
    PutHfsForkData(p + 432, h.startupFile);
}

CHfsVolumeHeader GetHfsVolumeHeader(uint8_t const* p)
{
    CHfsVolumeHeader h;
    h.signature = GetBe16(p + 0);
    h.version = GetBe16(p + 2);
    h.attributes = GetBe32(p + 4);
    h.lastMountedVersion = GetBe32(p + 8);
    h.journalInfoBlock = GetBe32(p + 12);
    h.createDate = GetBe32(p + 16);
    h.modifyDate = GetBe32(p + 20);
    h.backupDate = GetBe32(p + 24);
    h.checkedDate = GetBe32(p + 28);
    h.fileCount = GetBe32(p + 32);
    h.folderCount = GetBe32(p + 36);
    h.blockSize = GetBe32(p + 40);
    h.totalBlocks = GetBe32(p + 44);
    h.freeBlocks = GetBe32(p + 48);
    h.nextAllocation = GetBe32(p + 52);
    h.rsrcClumpSize = GetBe32(p + 56);
    h.dataClumpSize = GetBe32(p + 60);
    h.nextCatalogId = GetBe32(p + 64);
    h.writeCount = GetBe32(p + 68);
    h.encodingsBitmap = GetBe64(p + 72);
    for (size_t i = 0; i < h.finderInfo.size(); ++i)
        h.finderInfo[i] = GetBe32(p + 80 + 4 * i);
    h.allocationFile = GetHfsForkData(p + 112);
    h.extentsFile = GetHfsForkData(p + 192);
    h.catalogFile = GetHfsForkData(p + 272);
    h.attributesFile = GetHfsForkData(p + 352);
    h.startupFile = GetHfsForkData(p + 432);
    return h;
}
