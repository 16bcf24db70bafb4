// A small disk image built to make a reader work hard: a bare HFS+ disk whose catalog leaf chain
// hops, node by node, between `chunks` (1 to 7) compressed runs of `runBlocks` 4 KiB blocks, so
// that a reader that decompresses a run for every node read decompresses a whole run per 4 KiB
// node. Each run compresses to a few KiB.
// Used by the image reader's tests and as a seed of the image fuzzer.
#pragma once

#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsVolumeHeader.h"
#include "io/ByteOrder.h"
#include "udif/BlkxTable.h"
#include "udif/KolyTrailer.h"
#include "udif/UdifPlist.h"

#include <cstdlib>
#include <libdeflate.h>
#include <string>
#include <vector>

// Ends the data fork `file` (the runs of `table`) with the property list and the 'koly' trailer of
// a single-table image.
inline void AppendUdifTrailer(std::vector<uint8_t>* file, CBlkxTable const& table)
{
    CKolyTrailer trailer;
    trailer.dataForkLength = file->size();
    trailer.sectorCount = table.sectorCount;
    std::string xml, error;
    if (!BuildUdifPlist({{"whole disk", 0, SerializeBlkxTable(table)}}, &xml, &error))
        std::abort();
    trailer.xmlOffset = file->size();
    trailer.xmlLength = xml.size();
    file->insert(file->end(), xml.begin(), xml.end());
    auto const koly = SerializeKolyTrailer(trailer);
    file->insert(file->end(), koly.begin(), koly.end());
}

namespace ThrashingImage
{

// One leaf holding one record: a folder thread (skipped by listings), or, last, the root folder.
inline void PutLeaf(uint8_t* node, uint32_t next, bool root)
{
    PutBe32(node, next);
    node[8] = 0xFF; // leaf
    node[9] = 1;
    PutBe16(node + 10, 1);
    char16_t const name[] = u"Thrash";
    size_t const nameLength = root ? 6 : 0;
    uint8_t* key = node + 14;
    PutBe16(key, uint16_t(6 + 2 * nameLength));
    PutBe32(key + 2, root ? kHfsRootParentId : kHfsRootFolderId);
    PutBe16(key + 6, uint16_t(nameLength));
    for (size_t c = 0; c < nameLength; ++c)
        PutBe16(key + 8 + 2 * c, uint16_t(name[c]));
    uint8_t* data = key + 8 + 2 * nameLength;
    PutBe16(data, root ? kHfsFolderRecord : kHfsFolderThreadRecord);
    if (root)
        PutBe32(data + 8, kHfsRootFolderId);
    size_t const end = size_t(data - node) + (root ? 88 : 10);
    PutBe16(node + kHfsBlockSize - 2, 14);
    PutBe16(node + kHfsBlockSize - 4, uint16_t(end));
}

// The disk: run 0 holds the volume header and the catalog's header node, runs 1 to `chunks` one
// catalog extent each; leaf i lies in run 1 + i % chunks.
inline std::vector<uint8_t> BuildDisk(uint32_t chunks, uint32_t runBlocks)
{
    uint32_t const kBlocksPerChunk = runBlocks;
    uint32_t const kHeaderNodes = runBlocks - 1; // the catalog's first extent, in run 0
    uint32_t const totalBlocks = kBlocksPerChunk * (chunks + 1);
    std::vector<uint8_t> disk(size_t(totalBlocks) * kHfsBlockSize, 0);
    uint32_t const catalogNodes = kHeaderNodes + kBlocksPerChunk * chunks;
    CHfsVolumeHeader header;
    header.blockSize = kHfsBlockSize;
    header.totalBlocks = totalBlocks;
    header.catalogFile.logicalSize = uint64_t(catalogNodes) * kHfsBlockSize;
    header.catalogFile.totalBlocks = catalogNodes;
    header.catalogFile.extents[0] = {1, kHeaderNodes};
    for (uint32_t c = 0; c < chunks; ++c)
        header.catalogFile.extents[1 + c] = {kBlocksPerChunk * (c + 1), kBlocksPerChunk};
    PutHfsVolumeHeader(&disk[kHfsVolumeHeaderOffset], header);
    auto const nodeAt = [&](uint32_t node) { return &disk[size_t(node + 1) * kHfsBlockSize]; };
    uint32_t const leaves = kBlocksPerChunk * chunks;
    auto const leafNode = [&](uint32_t i)
    { return kHeaderNodes + (i % chunks) * kBlocksPerChunk + i / chunks; };
    uint8_t* head = nodeAt(0);
    head[8] = 1; // header node
    PutBe32(head + 14 + 10, leafNode(0));
    PutBe16(head + 14 + 18, uint16_t(kHfsBlockSize));
    PutBe32(head + 14 + 22, catalogNodes);
    for (uint32_t i = 0; i < leaves; ++i)
        PutLeaf(nodeAt(leafNode(i)), i + 1 < leaves ? leafNode(i + 1) : 0, i + 1 == leaves);
    return disk;
}

// The disk as a UDZO image, each run a zlib stream.
inline std::vector<uint8_t> Build(uint32_t chunks, uint32_t runBlocks = 256)
{
    std::vector<uint8_t> const disk = BuildDisk(chunks, runBlocks);
    std::vector<uint8_t> file;
    CBlkxTable table;
    table.sectorCount = disk.size() / 512;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    size_t const chunkBytes = size_t(runBlocks) * kHfsBlockSize;
    for (size_t at = 0; at < disk.size(); at += chunkBytes)
    {
        std::vector<uint8_t> out(chunkBytes);
        size_t const length =
            libdeflate_zlib_compress(compressor, &disk[at], chunkBytes, out.data(), out.size());
        table.runs.push_back({kBlkxZlib, at / 512, chunkBytes / 512, file.size(), length});
        file.insert(file.end(), out.begin(), out.begin() + long(length));
    }
    libdeflate_free_compressor(compressor);
    AppendUdifTrailer(&file, table);
    return file;
}
} // namespace ThrashingImage
