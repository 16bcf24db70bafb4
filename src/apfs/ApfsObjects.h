// The pieces every APFS object is made of: the 32-byte object header with its Fletcher-64
// checksum, and B-trees built bottom-up from sorted records into 4 KiB nodes.
//
// Object header (all APFS integers are little-endian):
//   0  o_cksum   8  Fletcher-64 over bytes 8 to the end of the block
//   8  o_oid     8  physical objects: their block address; virtual and ephemeral: their ID
//  16  o_xid     8  transaction that wrote it
//  24  o_type    4  object type | storage flags (0x40000000 physical, 0x80000000 ephemeral)
//  28  o_subtype 4  what a tree holds (object map, file system records, ...)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kApfsBlockSize = 4096;

constexpr uint32_t kApfsPhysical = 0x40000000;
constexpr uint32_t kApfsEphemeral = 0x80000000;

constexpr uint32_t kApfsTypeContainer = 0x01;
constexpr uint32_t kApfsTypeBTree = 0x02;
constexpr uint32_t kApfsTypeBTreeNode = 0x03;
constexpr uint32_t kApfsTypeSpaceman = 0x05;
constexpr uint32_t kApfsTypeChunkInfo = 0x07;
constexpr uint32_t kApfsTypeObjectMap = 0x0b;
constexpr uint32_t kApfsTypeCheckpointMap = 0x0c;
constexpr uint32_t kApfsTypeVolume = 0x0d;
constexpr uint32_t kApfsTypeFileSystemTree = 0x0e;
constexpr uint32_t kApfsTypeExtentRefTree = 0x0f;
constexpr uint32_t kApfsTypeSnapshotTree = 0x10;
constexpr uint32_t kApfsTypeReaper = 0x11;
constexpr uint32_t kApfsTypeFreeQueue = 0x09;

using CApfsBlock = std::vector<uint8_t>;

// Fills the header fields after the checksum.
void PutApfsHeader(uint8_t* block, uint64_t oid, uint64_t xid, uint32_t type, uint32_t subtype);
// Computes and stores the checksum of a whole block.
void SealApfsBlock(uint8_t* block);
uint64_t ComputeApfsChecksum(uint8_t const* block, size_t size);

struct CApfsRecord
{
    std::vector<uint8_t> key;
    std::vector<uint8_t> value;
};

struct CApfsTreeShape
{
    uint32_t subtype = 0;
    uint32_t storage = 0;     // kApfsPhysical, kApfsEphemeral or 0 (virtual)
    uint32_t infoFlags = 0;   // btree_info_t bt_flags
    uint32_t fixedKey = 0;    // both set for trees of fixed-size records (object maps), else 0
    uint32_t fixedValue = 0;
};

// How many nodes the records take (the same records' sizes always give the same count).
size_t CountApfsTreeNodes(std::vector<CApfsRecord> const& records, CApfsTreeShape const& shape);

// Builds the tree's nodes, sealed. `nodeIds` gives each node its ID (the block address of a
// physical tree, the virtual ID otherwise), as many as CountApfsTreeNodes; nodes come out in that
// order, leaves first and the root last, so the root's ID is nodeIds.back(). An index node refers
// to its children by their IDs.
std::vector<CApfsBlock> BuildApfsTree(std::vector<CApfsRecord> const& records, CApfsTreeShape const& shape,
                                      std::vector<uint64_t> const& nodeIds, uint64_t xid);
