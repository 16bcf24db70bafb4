// Planning an APFS container: every object's place and bytes before the first one is written.
//
// Layout (4 KiB blocks), everything allocated packed at the start:
//   0                 container superblock (nx_superblock_t)
//   1 .. 8            checkpoint descriptor area: 1 checkpoint map, 2 the superblock again
//   9 .. 1023         checkpoint data area: 9 space manager, 10 reaper, 11-12 the free queues
//                     (physical objects start at block 1024, below which IDs are reserved)
//   1024 ..           container object map and its tree, volume superblock, volume object map
//                     and its tree, file-system tree, extent reference tree, snapshot tree
//   then              file data, each file in consecutive blocks
//   then              the internal pool's bitmap (16 blocks, one in use) and the pool: the
//                     allocation bitmap of each chunk in use, then the chunk info blocks; the rest
//                     is free
//
// Container superblock fields (nx_superblock_t) used here, by offset:
//   32 magic "NXSB"  36 block size  40 block count  64 incompatible features (2: version 2)
//   72 UUID  88 next OID  96 next transaction  104/108 descriptor/data area blocks
//   112/120 their first blocks  128/132 next index  136/140 descriptor index/length
//   144/148 data index/length  152 space manager OID  160 object map address  168 reaper OID
//   180 most volumes  184 volume OIDs  1312 ephemeral info
// Volume superblock fields (apfs_superblock_t):
//   32 magic "APSB"  40 features (2: hard-link map records)  56 incompatible (1: case-insensitive)
//   88 blocks allocated  96 crypto state  116/120/124 tree types  128 object map address
//   136 file-system tree OID  144/152 extent reference and snapshot trees  176 next inode
//   184.. file, folder, link counts  224 blocks allocated in all  240 UUID  256 last change
//   264 flags (1: unencrypted)  272 formatted by  704 name  960 next document ID
#include "apfs/ApfsContainer.h"

#include "apfs/ApfsNames.h"
#include "apfs/ApfsSpaceManager.h"
#include "hfsplus/HfsNames.h"
#include "io/ByteOrder.h"
#include "io/SourceDateEpoch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace
{
constexpr uint64_t kXid = 1;
constexpr uint64_t kVolumeOid = 0x404, kFirstTreeOid = 0x405;

constexpr uint64_t kInodeHasFinderInfo = 0x100;
constexpr uint64_t kRootParent = 1, kRootInode = 2, kPrivateInode = 3, kFirstInode = 16;

enum : uint64_t
{
    kRecordExtent = 2,
    kRecordInode = 3,
    kRecordXattr = 4,
    kRecordDstreamId = 6,
    kRecordFileExtent = 8,
    kRecordDirEntry = 9
};

struct CFsRecord
{
    uint64_t id = 0;
    uint64_t type = 0;
    uint32_t hash = 0;    // directory entries: the name's hash; ordered before the name
    std::string name;     // directory entries and attributes
    CApfsRecord record;
};

bool CompareFsRecords(CFsRecord const& a, CFsRecord const& b)
{
    if (a.id != b.id)
        return a.id < b.id;
    if (a.type != b.type)
        return a.type < b.type;
    if (a.hash != b.hash)
        return a.hash < b.hash;
    return a.name < b.name;
}

std::vector<uint8_t> MakeKey(uint64_t id, uint64_t type)
{
    std::vector<uint8_t> key(8);
    PutLe64(key.data(), id | (type << 60));
    return key;
}

void Append(std::vector<uint8_t>* bytes, void const* data, size_t size)
{
    auto const* p = static_cast<uint8_t const*>(data);
    bytes->insert(bytes->end(), p, p + size);
}

void AppendLe(std::vector<uint8_t>* bytes, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes->push_back(uint8_t(value >> (8 * i)));
}

// An inode's value (j_inode_val_t, 92 bytes) with its extended fields: the name, and for a file
// with data its data stream (size, allocated size and three zero counters).
std::vector<uint8_t> MakeInodeValue(uint64_t parent, uint64_t privateId, int64_t time, uint32_t links,
                                    uint16_t mode, std::string const& name, uint64_t size, uint64_t allocated,
                                    bool hasStream, uint64_t flags = 0)
{
    std::vector<uint8_t> v;
    AppendLe(&v, parent, 8);
    AppendLe(&v, privateId, 8);
    for (int i = 0; i < 4; ++i)
        AppendLe(&v, uint64_t(time), 8);
    AppendLe(&v, flags, 8); // internal flags
    AppendLe(&v, links, 4); // children of a folder, links of a file
    AppendLe(&v, 0, 4);     // protection class
    AppendLe(&v, 0, 4);     // write generation
    AppendLe(&v, 0, 4);     // BSD flags
    AppendLe(&v, 99, 4);    // owner and group "unknown", which disk images ignore
    AppendLe(&v, 99, 4);
    AppendLe(&v, mode, 2);
    AppendLe(&v, 0, 2);
    AppendLe(&v, 0, 8); // uncompressed size
    uint16_t const nameSize = uint16_t(name.size() + 1);
    uint16_t const nameSlot = uint16_t((nameSize + 7) & ~7);
    uint16_t const fields = hasStream ? 2 : 1;
    uint16_t const used = uint16_t(nameSlot + (hasStream ? 40 : 0));
    AppendLe(&v, fields, 2);
    AppendLe(&v, used, 2);
    v.push_back(4);    // name
    v.push_back(0x02); // not copied
    AppendLe(&v, nameSize, 2);
    if (hasStream)
    {
        v.push_back(8);    // data stream
        v.push_back(0x20); // system field
        AppendLe(&v, 40, 2);
    }
    Append(&v, name.c_str(), nameSize);
    v.resize(v.size() + (nameSlot - nameSize), 0);
    if (hasStream)
    {
        AppendLe(&v, size, 8);
        AppendLe(&v, allocated, 8);
        v.resize(v.size() + 24, 0);
    }
    return v;
}

CFsRecord MakeXattr(uint64_t inode, std::string const& name, uint16_t flags, std::vector<uint8_t> const& data)
{
    CFsRecord r;
    r.id = inode;
    r.type = kRecordXattr;
    r.name = name;
    r.record.key = MakeKey(inode, kRecordXattr);
    AppendLe(&r.record.key, name.size() + 1, 2);
    Append(&r.record.key, name.c_str(), name.size() + 1);
    AppendLe(&r.record.value, flags, 2);
    AppendLe(&r.record.value, data.size(), 2);
    Append(&r.record.value, data.data(), data.size());
    return r;
}

uint16_t GetDirEntryType(EVolumeItemKind kind)
{
    return kind == EVolumeItemKind::Folder ? 4 : kind == EVolumeItemKind::File ? 8 : 10;
}

// A directory entry (j_drec_hashed_key_t: the parent, the name's length and hash, the name; its
// value the inode, the date added and the type). The root and the private folder have theirs in
// the root's parent, 1.
CFsRecord MakeDirEntry(uint64_t parent, std::string const& name, uint64_t inode, int64_t time, EVolumeItemKind kind)
{
    CFsRecord entry;
    entry.id = parent;
    entry.type = kRecordDirEntry;
    entry.hash = HashApfsName(FoldApfsName(name));
    entry.name = name;
    entry.record.key = MakeKey(parent, kRecordDirEntry);
    AppendLe(&entry.record.key, (uint32_t(name.size() + 1) & 0x3FF) | (entry.hash << 10), 4);
    Append(&entry.record.key, name.c_str(), name.size() + 1);
    AppendLe(&entry.record.value, inode, 8);
    AppendLe(&entry.record.value, uint64_t(time), 8);
    AppendLe(&entry.record.value, GetDirEntryType(kind), 2);
    return entry;
}

struct CItemPlan
{
    uint64_t inode = 0;
    std::string storedName; // decomposed UTF-8, as the Finder names items
    uint32_t hash = 0;
    uint64_t blocks = 0;
    uint64_t firstBlock = 0;
};

uint64_t DivideUp(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

void DeriveUuid(std::string const& seed, char const* salt, uint8_t* uuid)
{
    uint64_t h1 = MixFnv1a(kFnv1aStart, seed.data(), seed.size());
    h1 = MixFnv1a(h1, salt, std::strlen(salt));
    uint64_t h2 = MixFnv1a(h1, "second half", 11);
    PutLe64(uuid, h1);
    PutLe64(uuid + 8, h2);
    uuid[6] = uint8_t((uuid[6] & 0x0F) | 0x50);
    uuid[8] = uint8_t((uuid[8] & 0x3F) | 0x80);
}


uint16_t GetModeType(EVolumeItemKind kind)
{
    return kind == EVolumeItemKind::Folder ? S_IFDIR : kind == EVolumeItemKind::File ? S_IFREG : S_IFLNK;
}

class CPlanner
{
public:
    CPlanner(CVolumeTree const& tree, CApfsSettings const& settings, CApfsPlan* plan)
        : m_tree(tree), m_settings(settings), m_plan(plan)
    {
    }

    bool Run(std::string* error)
    {
        m_items.assign(m_tree.GetCount(), CItemPlan());
        if (!NumberItems(error))
            return false;
        // The file-system records' sizes don't depend on where data goes, so the node counts
        // come first, with data addresses still unknown.
        BuildFsRecords();
        CApfsTreeShape const fsShape{kApfsTypeFileSystemTree, 0, 0x40, 0, 0};
        CApfsTreeShape const extentShape{kApfsTypeExtentRefTree, kApfsPhysical, 0x50, 0, 0};
        CApfsTreeShape const omapShape{kApfsTypeObjectMap, kApfsPhysical, 0x10, 16, 16};
        m_fsNodes = CountApfsTreeNodes(m_fsRecords, fsShape);
        m_extentNodes = CountApfsTreeNodes(BuildExtentRecords(), extentShape);
        m_omapNodes = CountApfsTreeNodes(BuildVolumeOmapRecords(std::vector<uint64_t>(m_fsNodes, 0)), omapShape);

        // Places, in block order: the volume's objects, then the file data, then the space
        // manager's internal pool, which is all a shrink has to move.
        uint64_t next = kApfsFirstObjectBlock;
        m_containerOmap = next++;
        m_containerOmapTree = next++;
        m_volumeBlock = next++;
        m_volumeOmap = next++;
        for (size_t i = 0; i < m_omapNodes; ++i)
            m_omapNodeBlocks.push_back(next++);
        for (size_t i = 0; i < m_fsNodes; ++i)
        {
            m_fsNodeBlocks.push_back(next++);
            m_fsNodeOids.push_back(kFirstTreeOid + i);
        }
        for (size_t i = 0; i < m_extentNodes; ++i)
            m_extentNodeBlocks.push_back(next++);
        m_snapshotTree = next++;
        for (size_t index : m_order)
            if (m_items[index].blocks)
            {
                m_items[index].firstBlock = next;
                m_plan->files.push_back({next, index});
                next += m_items[index].blocks;
            }
        m_dataEnd = next;
        if (m_settings.sizeBytes == 0)
            m_space = ComputeSmallestApfsSpace(m_dataEnd);
        else
        {
            m_space = ComputeApfsSpace(std::max(kApfsMinimumBlocks, m_settings.sizeBytes / kApfsBlockSize), m_dataEnd);
            if (m_space.used > m_space.blockCount)
            {
                *error = "the files need " + std::to_string(DivideUp(m_space.used * kApfsBlockSize, 1 << 20)) +
                         " MB of an APFS container of " + std::to_string(m_settings.sizeBytes >> 20) +
                         " MB: they do not fit";
                return false;
            }
        }
        m_plan->blockCount = m_space.blockCount;
        m_plan->usedBlocks = m_space.used;
        BuildFsRecords();
        Emit();
        m_plan->inodes.assign(m_tree.GetCount(), 0);
        for (size_t i = 0; i < m_items.size(); ++i)
            m_plan->inodes[i] = m_items[i].inode;
        return true;
    }

private:
    int64_t GetTime(CVolumeItem const& item) const
    {
        return m_settings.fixedDates ? m_settings.createTime : item.modifiedTime * 1000000000ll;
    }

    // Inode numbers in depth-first order from the root, and the names checked folder by folder.
    bool NumberItems(std::string* error)
    {
        m_items[CVolumeTree::kRoot].inode = kRootInode;
        std::set<uint64_t> promised;
        uint64_t highest = kFirstInode - 1;
        for (auto const& fixed : m_settings.fixedInodes)
        {
            promised.insert(fixed.second);
            highest = std::max(highest, fixed.second);
        }
        uint64_t next = kFirstInode;
        std::vector<size_t> stack{CVolumeTree::kRoot};
        while (!stack.empty())
        {
            size_t const folder = stack.back();
            stack.pop_back();
            m_order.push_back(folder);
            std::map<std::u32string, size_t> seen;
            CVolumeItem const& f = m_tree.Get(folder);
            for (size_t child : f.children)
            {
                CVolumeItem const& item = m_tree.Get(child);
                CItemPlan& plan = m_items[child];
                plan.storedName = ConvertNameToDecomposedUtf8(item.name);
                std::u32string const folded = FoldApfsName(plan.storedName);
                std::string const where = m_tree.GetPath(child);
                if (folded.empty() || item.name.find('/') != std::string::npos)
                {
                    *error = "'" + where + "' is not a name an APFS volume can hold";
                    return false;
                }
                if (plan.storedName.size() > kApfsMaxNameBytes)
                {
                    *error = "the name of '" + where + "' is longer than the 255 bytes an APFS volume allows";
                    return false;
                }
                auto const found = seen.emplace(folded, child);
                if (!found.second)
                {
                    *error = "'" + m_tree.GetPath(found.first->second) + "' and '" + where +
                             "' have names the APFS volume can't tell apart";
                    return false;
                }
                plan.hash = HashApfsName(folded);
                auto const fixed = m_settings.fixedInodes.find(where);
                if (fixed != m_settings.fixedInodes.end())
                    plan.inode = fixed->second;
                else
                {
                    while (promised.count(next))
                        ++next;
                    plan.inode = next++;
                }
                if (item.kind == EVolumeItemKind::File)
                    plan.blocks = DivideUp(item.size, kApfsBlockSize);
            }
            for (auto it = f.children.rbegin(); it != f.children.rend(); ++it)
                if (m_tree.Get(*it).kind == EVolumeItemKind::Folder)
                    stack.push_back(*it);
            // Files and links of the folder take their data places right after its own.
            for (size_t child : f.children)
                if (m_tree.Get(child).kind != EVolumeItemKind::Folder)
                    m_order.push_back(child);
        }
        m_nextInode = std::max(next, highest + 1);
        return true;
    }

    void BuildFsRecords()
    {
        m_fsRecords.clear();
        std::vector<CFsRecord> records;
        int64_t const rootTime = GetTime(m_tree.Get(CVolumeTree::kRoot));
        records.push_back(MakeDirEntry(kRootParent, "private-dir", kPrivateInode, rootTime, EVolumeItemKind::Folder));
        records.push_back({kPrivateInode, kRecordInode, 0, {},
                           {MakeKey(kPrivateInode, kRecordInode),
                            MakeInodeValue(kRootParent, kPrivateInode, rootTime, 0, S_IFDIR | 0755, "private-dir",
                                           0, 0, false)}});
        m_counts[0] = m_counts[1] = m_counts[2] = 0;
        for (size_t index : m_order)
        {
            CVolumeItem const& item = m_tree.Get(index);
            CItemPlan const& plan = m_items[index];
            int64_t const time = GetTime(item);
            bool const root = index == CVolumeTree::kRoot;
            uint64_t const parent = root ? kRootParent : m_items[item.parent].inode;
            uint32_t const links = item.kind == EVolumeItemKind::Folder ? uint32_t(item.children.size()) : 1;
            uint16_t const mode = uint16_t(GetModeType(item.kind) | (item.mode & 07777));
            bool const stream = plan.blocks != 0;
            records.push_back({plan.inode, kRecordInode, 0, {},
                               {MakeKey(plan.inode, kRecordInode),
                                MakeInodeValue(parent, plan.inode, time, links, mode,
                                               root ? std::string("root") : plan.storedName, item.size,
                                               plan.blocks * kApfsBlockSize, stream,
                                               item.finderFlags ? kInodeHasFinderInfo : 0)}});
            if (!root)
                ++m_counts[item.kind == EVolumeItemKind::File ? 0 : item.kind == EVolumeItemKind::Folder ? 1 : 2];
            records.push_back(
                MakeDirEntry(parent, root ? std::string("root") : plan.storedName, plan.inode, time, item.kind));
            if (item.finderFlags)
            {
                // Finder info: for files type and creator, then the flags word (big-endian, as
                // HFS+ keeps it), location and the rest, zero here.
                std::vector<uint8_t> info(32, 0);
                PutBe16(info.data() + 8, item.finderFlags);
                records.push_back(MakeXattr(plan.inode, "com.apple.FinderInfo", 0x02, info));
            }
            if (item.kind == EVolumeItemKind::Symlink)
            {
                std::vector<uint8_t> target(item.linkTarget.begin(), item.linkTarget.end());
                target.push_back(0);
                records.push_back(MakeXattr(plan.inode, "com.apple.fs.symlink", 0x06, target));
            }
            if (stream)
            {
                CFsRecord id{plan.inode, kRecordDstreamId, 0, {}, {MakeKey(plan.inode, kRecordDstreamId), {}}};
                AppendLe(&id.record.value, 1, 4);
                records.push_back(std::move(id));
                CFsRecord extent{plan.inode, kRecordFileExtent, 0, {}, {MakeKey(plan.inode, kRecordFileExtent), {}}};
                AppendLe(&extent.record.key, 0, 8);
                AppendLe(&extent.record.value, plan.blocks * kApfsBlockSize, 8);
                AppendLe(&extent.record.value, plan.firstBlock, 8);
                AppendLe(&extent.record.value, 0, 8);
                records.push_back(std::move(extent));
            }
        }
        std::sort(records.begin(), records.end(), CompareFsRecords);
        for (CFsRecord& r : records)
            m_fsRecords.push_back(std::move(r.record));
    }

    std::vector<CApfsRecord> BuildExtentRecords() const
    {
        std::vector<CApfsRecord> records;
        for (size_t index : m_order)
        {
            CItemPlan const& plan = m_items[index];
            if (!plan.blocks)
                continue;
            CApfsRecord r{MakeKey(plan.firstBlock, kRecordExtent), {}};
            AppendLe(&r.value, plan.blocks | (1ull << 60), 8); // a new extent
            AppendLe(&r.value, plan.inode, 8);
            AppendLe(&r.value, 1, 4);
            records.push_back(std::move(r));
        }
        return records;
    }

    static std::vector<CApfsRecord> MakeOmapRecords(std::vector<uint64_t> const& oids,
                                                    std::vector<uint64_t> const& blocks)
    {
        std::vector<CApfsRecord> records;
        for (size_t i = 0; i < oids.size(); ++i)
        {
            CApfsRecord r;
            AppendLe(&r.key, oids[i], 8);
            AppendLe(&r.key, kXid, 8);
            AppendLe(&r.value, 0, 4);
            AppendLe(&r.value, kApfsBlockSize, 4);
            AppendLe(&r.value, blocks[i], 8);
            records.push_back(std::move(r));
        }
        return records;
    }

    std::vector<CApfsRecord> BuildVolumeOmapRecords(std::vector<uint64_t> const& blocks) const
    {
        std::vector<uint64_t> oids;
        for (size_t i = 0; i < blocks.size(); ++i)
            oids.push_back(kFirstTreeOid + i);
        return MakeOmapRecords(oids, blocks);
    }

    void Put(uint64_t block, CApfsBlock bytes) { m_plan->metadata.emplace_back(block, std::move(bytes)); }

    CApfsBlock MakeObjectMap(uint64_t block, uint32_t flags, uint64_t treeBlock) const
    {
        CApfsBlock b(kApfsBlockSize, 0);
        PutApfsHeader(b.data(), block, kXid, kApfsPhysical | kApfsTypeObjectMap, 0);
        PutLe32(b.data() + 32, flags);
        PutLe32(b.data() + 40, kApfsPhysical | kApfsTypeBTree);
        PutLe32(b.data() + 44, kApfsPhysical | kApfsTypeBTree);
        PutLe64(b.data() + 48, treeBlock);
        SealApfsBlock(b.data());
        return b;
    }

    CApfsBlock MakeContainerSuperblock() const
    {
        CApfsBlock b(kApfsBlockSize, 0);
        uint8_t* p = b.data();
        PutApfsHeader(p, 1, kXid, kApfsEphemeral | kApfsTypeContainer, 0);
        std::memcpy(p + 32, "NXSB", 4);
        PutLe32(p + 36, kApfsBlockSize);
        PutLe64(p + 40, m_space.blockCount);
        PutLe64(p + 64, 2);
        DeriveUuid(m_settings.identitySeed, "container", p + 72);
        PutLe64(p + 88, kFirstTreeOid + m_fsNodes);
        PutLe64(p + 96, kXid + 1);
        PutLe32(p + 104, kApfsDescBlocks);
        PutLe32(p + 108, kApfsDataBlocks);
        PutLe64(p + 112, kApfsDescBase);
        PutLe64(p + 120, kApfsDataBase);
        PutLe32(p + 128, 2);
        PutLe32(p + 132, 4);
        PutLe32(p + 136, 0);
        PutLe32(p + 140, 2);
        PutLe32(p + 144, 0);
        PutLe32(p + 148, 4);
        PutLe64(p + 152, kApfsSpacemanOid);
        PutLe64(p + 160, m_containerOmap);
        PutLe64(p + 168, kApfsReaperOid);
        PutLe32(p + 180, GetApfsMostVolumes(m_space.blockCount));
        PutLe64(p + 184, kVolumeOid);
        PutLe64(p + 1312, (8ull << 32) | (4u << 16) | 1u);
        SealApfsBlock(p);
        return b;
    }

    CApfsBlock MakeCheckpointMap() const
    {
        CApfsBlock b(kApfsBlockSize, 0);
        uint8_t* p = b.data();
        PutApfsHeader(p, kApfsDescBase, kXid, kApfsPhysical | kApfsTypeCheckpointMap, 0);
        PutLe32(p + 32, 1); // the last map
        PutLe32(p + 36, 4);
        struct
        {
            uint32_t type, subtype;
            uint64_t oid, block;
        } const entries[] = {{kApfsTypeSpaceman, 0, kApfsSpacemanOid, kApfsSpacemanBlock},
                             {kApfsTypeReaper, 0, kApfsReaperOid, kApfsReaperBlock},
                             {kApfsTypeBTree, kApfsTypeFreeQueue, kApfsPoolQueueOid, kApfsPoolQueueBlock},
                             {kApfsTypeBTree, kApfsTypeFreeQueue, kApfsMainQueueOid, kApfsMainQueueBlock}};
        for (size_t i = 0; i < 4; ++i)
        {
            uint8_t* e = p + 40 + 40 * i;
            PutLe32(e, kApfsEphemeral | entries[i].type);
            PutLe32(e + 4, entries[i].subtype);
            PutLe32(e + 8, kApfsBlockSize);
            PutLe64(e + 24, entries[i].oid);
            PutLe64(e + 32, entries[i].block);
        }
        SealApfsBlock(p);
        return b;
    }

    CApfsBlock MakeReaper() const
    {
        CApfsBlock b(kApfsBlockSize, 0);
        uint8_t* p = b.data();
        PutApfsHeader(p, kApfsReaperOid, kXid, kApfsEphemeral | kApfsTypeReaper, 0);
        PutLe64(p + 32, 1); // next reap ID
        PutLe32(p + 64, 1); // buffer half-marker flag
        PutLe32(p + 108, kApfsBlockSize - 112);
        SealApfsBlock(p);
        return b;
    }

    CApfsBlock MakeVolumeSuperblock(uint64_t fsRoot) const
    {
        CApfsBlock b(kApfsBlockSize, 0);
        uint8_t* p = b.data();
        PutApfsHeader(p, kVolumeOid, kXid, kApfsTypeVolume, 0);
        std::memcpy(p + 32, "APSB", 4);
        PutLe64(p + 40, 2);
        PutLe64(p + 56, 1);
        uint64_t const owned = m_dataEnd - m_volumeOmap;
        PutLe64(p + 88, owned);
        PutLe16(p + 96, 5);  // crypto state: major version
        PutLe32(p + 104, 6); // protection class F (none)
        PutLe16(p + 112, 1); // key revision
        PutLe32(p + 116, kApfsTypeBTree);
        PutLe32(p + 120, kApfsPhysical | kApfsTypeBTree);
        PutLe32(p + 124, kApfsPhysical | kApfsTypeBTree);
        PutLe64(p + 128, m_volumeOmap);
        PutLe64(p + 136, fsRoot);
        PutLe64(p + 144, m_extentNodeBlocks.back());
        PutLe64(p + 152, m_snapshotTree);
        PutLe64(p + 176, m_nextInode);
        PutLe64(p + 184, m_counts[0]);
        PutLe64(p + 192, m_counts[1]);
        PutLe64(p + 200, m_counts[2]);
        PutLe64(p + 224, owned);
        DeriveUuid(m_settings.identitySeed, "volume", p + 240);
        PutLe64(p + 256, uint64_t(m_settings.createTime));
        PutLe64(p + 264, 1);
        char const formatter[] = "kilnpack";
        std::memcpy(p + 272, formatter, sizeof formatter);
        PutLe64(p + 304, uint64_t(m_settings.createTime));
        PutLe64(p + 312, kXid);
        std::memcpy(p + 704, m_settings.volumeName.data(), std::min<size_t>(255, m_settings.volumeName.size()));
        PutLe32(p + 960, 3);
        SealApfsBlock(p);
        return b;
    }

    // An empty free queue: an ephemeral tree of fixed-size records (transaction and block, a
    // block count) that may hold ghosts.
    static CApfsBlock MakeFreeQueue(uint64_t oid)
    {
        std::vector<CApfsBlock> nodes =
            BuildApfsTree({}, {kApfsTypeFreeQueue, kApfsEphemeral, 0x0C, 16, 8}, {oid}, kXid);
        return nodes.front();
    }

    void Emit()
    {
        CApfsBlock const super = MakeContainerSuperblock();
        Put(0, super);
        Put(kApfsDescBase, MakeCheckpointMap());
        Put(kApfsDescBase + 1, super);
        Put(kApfsReaperBlock, MakeReaper());
        Put(kApfsPoolQueueBlock, MakeFreeQueue(kApfsPoolQueueOid));
        Put(kApfsMainQueueBlock, MakeFreeQueue(kApfsMainQueueOid));

        EmitApfsSpace(m_space, kXid, &m_plan->metadata);

        CApfsTreeShape const omapShape{kApfsTypeObjectMap, kApfsPhysical, 0x10, 16, 16};
        Put(m_containerOmap, MakeObjectMap(m_containerOmap, 1, m_containerOmapTree));
        std::vector<CApfsBlock> tree =
            BuildApfsTree(MakeOmapRecords({kVolumeOid}, {m_volumeBlock}), omapShape, {m_containerOmapTree}, kXid);
        Put(m_containerOmapTree, tree.front());
        Put(m_volumeBlock, MakeVolumeSuperblock(m_fsNodeOids.back()));
        Put(m_volumeOmap, MakeObjectMap(m_volumeOmap, 0, m_omapNodeBlocks.back()));
        std::vector<CApfsBlock> nodes =
            BuildApfsTree(BuildVolumeOmapRecords(m_fsNodeBlocks), omapShape, m_omapNodeBlocks, kXid);
        for (size_t i = 0; i < nodes.size(); ++i)
            Put(m_omapNodeBlocks[i], std::move(nodes[i]));
        nodes = BuildApfsTree(m_fsRecords, {kApfsTypeFileSystemTree, 0, 0x40, 0, 0}, m_fsNodeOids, kXid);
        for (size_t i = 0; i < nodes.size(); ++i)
            Put(m_fsNodeBlocks[i], std::move(nodes[i]));
        nodes = BuildApfsTree(BuildExtentRecords(), {kApfsTypeExtentRefTree, kApfsPhysical, 0x50, 0, 0},
                              m_extentNodeBlocks, kXid);
        for (size_t i = 0; i < nodes.size(); ++i)
            Put(m_extentNodeBlocks[i], std::move(nodes[i]));
        nodes = BuildApfsTree({}, {kApfsTypeSnapshotTree, kApfsPhysical, 0x50, 0, 0}, {m_snapshotTree}, kXid);
        Put(m_snapshotTree, std::move(nodes.front()));
        std::sort(m_plan->metadata.begin(), m_plan->metadata.end(),
                  [](auto const& a, auto const& b) { return a.first < b.first; });
    }

    CVolumeTree const& m_tree;
    CApfsSettings const& m_settings;
    CApfsPlan* m_plan;
    std::vector<CItemPlan> m_items;
    std::vector<size_t> m_order;   // folders, each followed by its files and links
    std::vector<CApfsRecord> m_fsRecords;
    uint64_t m_nextInode = kFirstInode;
    uint64_t m_counts[3] = {0, 0, 0}; // files, folders, links
    size_t m_fsNodes = 0, m_extentNodes = 0, m_omapNodes = 0;
    CApfsSpace m_space;
    uint64_t m_containerOmap = 0, m_containerOmapTree = 0, m_volumeBlock = 0, m_volumeOmap = 0;
    uint64_t m_snapshotTree = 0, m_dataEnd = 0;
    std::vector<uint64_t> m_omapNodeBlocks, m_fsNodeBlocks, m_fsNodeOids, m_extentNodeBlocks;
};
} // namespace

uint64_t GetMinimumApfsContainerSize()
{
    CVolumeTree const empty;
    CApfsPlan plan;
    std::string error;
    PlanApfsContainer(empty, CApfsSettings(), &plan, &error);
    return plan.blockCount * kApfsBlockSize;
}

bool PlanApfsContainer(CVolumeTree const& tree, CApfsSettings const& settings, CApfsPlan* plan, std::string* error)
{
    *plan = CApfsPlan();
    plan->tree = &tree;
    plan->settings = settings;
    CPlanner planner(tree, settings, plan);
    if (!planner.Run(error))
    {
        *plan = CApfsPlan();
        return false;
    }
    for (CApfsFileRun const& run : plan->files)
        plan->dataBytes += tree.Get(run.item).size;
    return true;
}
