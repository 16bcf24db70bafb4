// Writing and checking the protective MBR, GPT headers and entry tables of a stand-in raw disk.
#include "gpt/GuidPartitionMap.h"

#include "io/ByteOrder.h"
#include "io/FullTransfer.h"
#include "io/SourceDateEpoch.h"

#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kEntryCount = 128;
constexpr uint64_t kEntryBytes = 128;
constexpr uint64_t kTableSectors = kEntryCount * kEntryBytes / kSectorBytes; // 32
constexpr uint64_t kHeaderBytes = 92;
constexpr uint64_t kPartitionStart = 40;
constexpr uint64_t kTailGap = 7; // free sectors between the partition and the backup table
constexpr uint64_t kSectorsOutsidePartition = kPartitionStart + kTailGap + kTableSectors + 1;


uint32_t Crc32(uint8_t const* bytes, size_t count)
{
    return libdeflate_crc32(0, bytes, count);
}

bool WriteAt(int fd, std::vector<uint8_t> const& bytes, uint64_t sector, std::string* error)
{
    if (WriteFullyAt(fd, bytes.data(), bytes.size(), sector * kSectorBytes))
        return true;
    int const why = errno ? errno : EIO;
    *error = std::string("can't write the partition map: ") + std::strerror(why);
    return false;
}

bool ReadAt(int fd, std::vector<uint8_t>* bytes, uint64_t sector, std::string* error)
{
    if (ReadFullyAt(fd, bytes->data(), bytes->size(), sector * kSectorBytes))
        return true;
    int const why = errno;
    *error = why ? std::string("can't read the disk: ") + std::strerror(why)
                 : std::string("the disk is shorter than its partition map says");
    return false;
}

// Checks one header sector against the layout implied by the disk size; gives the entries' CRC.
bool CheckHeader(std::vector<uint8_t> const& sector, bool primary, uint64_t totalSectors,
                 uint32_t* entriesCrc, std::string* error)
{
    char const* which = primary ? "primary" : "backup";
    uint8_t const* h = sector.data();
    if (std::memcmp(h, "EFI PART", 8) != 0)
    {
        *error = std::string("no ") + which + " GUID partition table header";
        return false;
    }
    std::vector<uint8_t> copy(h, h + kHeaderBytes);
    std::memset(copy.data() + 16, 0, 4);
    if (GetLe32(h + 12) != kHeaderBytes ||
        GetLe32(h + 16) != Crc32(copy.data(), kHeaderBytes))
    {
        *error = std::string("the ") + which + " GUID partition table header is damaged";
        return false;
    }
    uint64_t last = totalSectors - 1;
    uint64_t myLba = primary ? 1 : last;
    uint64_t otherLba = primary ? last : 1;
    uint64_t entriesLba = primary ? 2 : last - kTableSectors;
    if (GetLe64(h + 24) != myLba || GetLe64(h + 32) != otherLba ||
        GetLe64(h + 72) != entriesLba || GetLe32(h + 80) != kEntryCount ||
        GetLe32(h + 84) != kEntryBytes)
    {
        *error = std::string("the ") + which +
                 " GUID partition table does not have the layout hdiutil create makes";
        return false;
    }
    *entriesCrc = GetLe32(h + 88);
    return true;
}
} // namespace

// Type GUIDs with their first three fields little-endian, as the entry stores them.
CPartitionType const& GetAppleHfsPartitionType()
{
    static CPartitionType const type = {
        {0x00, 0x53, 0x46, 0x48, 0x00, 0x00, 0xAA, 0x11, 0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC},
        "Apple_HFS"};
    return type;
}

CPartitionType const& GetAppleApfsPartitionType()
{
    static CPartitionType const type = {
        {0xEF, 0x57, 0x34, 0x7C, 0x00, 0x00, 0xAA, 0x11, 0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC},
        "Apple_APFS"};
    return type;
}

CPartitionType const* FindMacPartitionType(uint8_t const* typeGuid)
{
    for (CPartitionType const* type : {&GetAppleHfsPartitionType(), &GetAppleApfsPartitionType()})
        if (std::memcmp(typeGuid, type->typeGuid.data(), type->typeGuid.size()) == 0)
            return type;
    return nullptr;
}

CPartitionLayout ComputePartitionLayout(uint64_t totalSectors)
{
    CPartitionLayout layout;
    layout.totalSectors = totalSectors;
    layout.partitionStart = kPartitionStart;
    layout.partitionSectors =
        totalSectors > kSectorsOutsidePartition ? totalSectors - kSectorsOutsidePartition : 0;
    return layout;
}

// Protective MBR (UEFI 2.x, chapter 5.2.3), sector 0, little-endian:
//   offset size meaning
//      446   16 partition record 1:
//                 +0  1 boot indicator (0)
//                 +1  3 starting CHS, 0x000200
//                 +4  1 OS type 0xEE, GPT protective
//                 +5  3 ending CHS, 0xFFFFFF
//                 +8  4 starting LBA, 1
//                +12  4 size in sectors: the disk less sector 0, at most 0xFFFFFFFF
//      462   48 partition records 2 to 4 (zero)
//      510    2 signature 0x55 0xAA
std::vector<uint8_t> BuildProtectiveMbr(uint64_t totalSectors)
{
    std::vector<uint8_t> mbr(kSectorBytes, 0);
    uint8_t* entry = mbr.data() + 446;
    entry[1] = 0x00; // CHS of the first sector: head 0, sector 2, cylinder 0
    entry[2] = 0x02;
    entry[3] = 0x00;
    entry[4] = 0xEE;
    entry[5] = entry[6] = entry[7] = 0xFF;
    PutLe32(entry + 8, 1);
    uint64_t covered = totalSectors - 1;
    PutLe32(entry + 12, covered > 0xFFFFFFFFu ? 0xFFFFFFFFu : covered);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return mbr;
}

// Partition entry (UEFI 2.x, chapter 5.3.3), 128 bytes, little-endian; 128 entries, the
// first one used:
//   offset size meaning
//        0   16 partition type GUID (Apple_HFS unless asked otherwise)
//       16   16 unique partition GUID
//       32    8 starting LBA
//       40    8 ending LBA, inclusive
//       48    8 attributes (0)
//       56   72 name, UTF-16LE ("disk image")
std::vector<uint8_t> BuildPartitionEntries(CPartitionLayout const& layout, CGuid const& partitionGuid,
                                           CPartitionType const& type)
{
    std::vector<uint8_t> entries(kEntryCount * kEntryBytes, 0);
    uint8_t* e = entries.data();
    std::memcpy(e, type.typeGuid.data(), 16);
    std::memcpy(e + 16, partitionGuid.data(), 16);
    PutLe64(e + 32, layout.partitionStart);
    PutLe64(e + 40, layout.partitionStart + layout.partitionSectors - 1);
    char const name[] = "disk image";
    for (size_t i = 0; name[i] != '\0'; ++i)
        PutLe16(e + 56 + 2 * i, static_cast<uint8_t>(name[i]));
    return entries;
}

// GPT header (UEFI 2.x, chapter 5.3.2), sector 1 and the last sector, little-endian:
//   offset size meaning
//        0    8 signature "EFI PART"
//        8    4 revision 0x00010000
//       12    4 header size, 92
//       16    4 CRC-32 of the 92 header bytes, this field taken as 0
//       20    4 reserved
//       24    8 this header's LBA
//       32    8 the other header's LBA
//       40    8 first usable LBA (after the primary table)
//       48    8 last usable LBA (before the backup table)
//       56   16 disk GUID
//       72    8 LBA of this header's entry table
//       80    4 number of entries, 128
//       84    4 size of an entry, 128
//       88    4 CRC-32 of the entry table
//       92  420 reserved, zero
std::vector<uint8_t> BuildGptHeader(CPartitionLayout const& layout, bool primary, CGuid const& diskGuid,
                                    uint32_t entriesCrc)
{
    uint64_t last = layout.totalSectors - 1;
    std::vector<uint8_t> sector(kSectorBytes, 0);
    uint8_t* h = sector.data();
    std::memcpy(h, "EFI PART", 8);
    PutLe32(h + 8, 0x00010000);
    PutLe32(h + 12, kHeaderBytes);
    PutLe64(h + 24, primary ? 1 : last);
    PutLe64(h + 32, primary ? last : 1);
    PutLe64(h + 40, 2 + kTableSectors);
    PutLe64(h + 48, last - kTableSectors - 1);
    std::memcpy(h + 56, diskGuid.data(), 16);
    PutLe64(h + 72, primary ? 2 : last - kTableSectors);
    PutLe32(h + 80, kEntryCount);
    PutLe32(h + 84, kEntryBytes);
    PutLe32(h + 88, entriesCrc);
    PutLe32(h + 16, Crc32(h, kHeaderBytes));
    return sector;
}

CGuid MakeRandomGuid()
{
    std::random_device source;
    CGuid guid;
    for (size_t i = 0; i < guid.size(); i += 4)
        PutLe32(guid.data() + i, source());
    guid[7] = static_cast<uint8_t>((guid[7] & 0x0F) | 0x40); // version 4, in the little-endian third field
    guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80); // RFC 4122 variant
    return guid;
}

CGuid DeriveGuid(std::string const& seed, char const* salt)
{
    uint64_t const first = MixFnv1a(MixFnv1a(kFnv1aStart, salt, std::strlen(salt)), seed.data(), seed.size());
    uint64_t const second = MixFnv1a(first, salt, std::strlen(salt));
    CGuid guid;
    PutLe64(guid.data(), first);
    PutLe64(guid.data() + 8, second);
    guid[7] = static_cast<uint8_t>((guid[7] & 0x0F) | 0x50); // version 5, in the little-endian third field
    guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80); // RFC 4122 variant
    return guid;
}

namespace
{
// The map's pieces, as WritePartitionMap and StreamGptDisk place them.
struct CMapSectors
{
    std::vector<uint8_t> mbr, primary, entries, backup;
};

CMapSectors BuildMapSectors(CPartitionLayout const& layout, std::string const& seed,
                            CPartitionType const& type)
{
    int64_t epoch = 0;
    bool const reproducible = GetSourceDateEpoch(&epoch);
    std::string const fullSeed =
        seed + "/" + std::to_string(layout.totalSectors) + "/" + std::to_string(epoch);
    CGuid const partitionGuid = reproducible ? DeriveGuid(fullSeed, "partition") : MakeRandomGuid();
    CMapSectors map;
    map.entries = BuildPartitionEntries(layout, partitionGuid, type);
    uint32_t entriesCrc = Crc32(map.entries.data(), map.entries.size());
    CGuid diskGuid = reproducible ? DeriveGuid(fullSeed, "disk") : MakeRandomGuid();
    map.mbr = BuildProtectiveMbr(layout.totalSectors);
    map.primary = BuildGptHeader(layout, true, diskGuid, entriesCrc);
    map.backup = BuildGptHeader(layout, false, diskGuid, entriesCrc);
    return map;
}
} // namespace

bool WritePartitionMap(int fd, CPartitionLayout const& layout, std::string* error, std::string const& seed,
                       CPartitionType const& type)
{
    CMapSectors const map = BuildMapSectors(layout, seed, type);
    uint64_t last = layout.totalSectors - 1;
    return WriteAt(fd, map.mbr, 0, error) && WriteAt(fd, map.primary, 1, error) &&
           WriteAt(fd, map.entries, 2, error) && WriteAt(fd, map.entries, last - kTableSectors, error) &&
           WriteAt(fd, map.backup, last, error);
}

bool StreamGptDisk(CPartitionLayout const& layout, CPartitionStreamer const& streamPartition, CDiskSink& sink,
                   std::string* error, std::string const& seed, CPartitionType const& type)
{
    CMapSectors const map = BuildMapSectors(layout, seed, type);
    uint64_t const base = sink.GetPosition();
    uint64_t const partitionEnd = layout.partitionStart + layout.partitionSectors;
    uint64_t const backupEntries = layout.totalSectors - 1 - kTableSectors;
    auto const put = [&sink, error](std::vector<uint8_t> const& bytes)
    { return sink.Write(bytes.data(), bytes.size(), error); };
    if (!put(map.mbr) || !put(map.primary) || !put(map.entries) ||
        !sink.Skip((layout.partitionStart - 2 - kTableSectors) * kSectorBytes, error) ||
        !streamPartition(sink, error))
        return false;
    if (sink.GetPosition() - base != partitionEnd * kSectorBytes)
    {
        *error = "the partition's contents are " + std::to_string(sink.GetPosition() - base) +
                 " bytes into the disk where the partition ends at " +
                 std::to_string(partitionEnd * kSectorBytes);
        return false;
    }
    return sink.Skip((backupEntries - partitionEnd) * kSectorBytes, error) && put(map.entries) &&
           put(map.backup);
}

bool ReadPartitionMap(int fd, CPartitionLayout* layout, std::string* error, CPartitionType const** type)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
    {
        *error = std::string("can't read the disk: ") + std::strerror(errno);
        return false;
    }
    uint64_t totalSectors = static_cast<uint64_t>(info.st_size) / kSectorBytes;
    if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) % kSectorBytes != 0 ||
        totalSectors <= kSectorsOutsidePartition)
    {
        *error = "not a disk image made by hdiutil create";
        return false;
    }
    std::vector<uint8_t> mbr(kSectorBytes), primary(kSectorBytes), backup(kSectorBytes);
    std::vector<uint8_t> entries(kEntryCount * kEntryBytes), backupEntries(entries.size());
    uint64_t last = totalSectors - 1;
    if (!ReadAt(fd, &mbr, 0, error) || !ReadAt(fd, &primary, 1, error) || !ReadAt(fd, &entries, 2, error) ||
        !ReadAt(fd, &backupEntries, last - kTableSectors, error) || !ReadAt(fd, &backup, last, error))
        return false;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA || mbr[446 + 4] != 0xEE)
    {
        *error = "not a disk image made by hdiutil create (no protective MBR)";
        return false;
    }
    uint32_t primaryCrc = 0, backupCrc = 0;
    if (!CheckHeader(primary, true, totalSectors, &primaryCrc, error) ||
        !CheckHeader(backup, false, totalSectors, &backupCrc, error))
        return false;
    if (Crc32(entries.data(), entries.size()) != primaryCrc ||
        Crc32(backupEntries.data(), backupEntries.size()) != backupCrc)
    {
        *error = "the GUID partition table entries are damaged";
        return false;
    }
    CPartitionLayout expected = ComputePartitionLayout(totalSectors);
    uint8_t const* e = entries.data();
    CPartitionType const* const found = FindMacPartitionType(e);
    if (found == nullptr || GetLe64(e + 32) != expected.partitionStart ||
        GetLe64(e + 40) != expected.partitionStart + expected.partitionSectors - 1)
    {
        *error = "the disk does not hold the single Apple_HFS partition hdiutil create makes";
        return false;
    }
    *layout = expected;
    if (type)
        *type = found;
    return true;
}

std::vector<CUdifRegion> ListPartitionRegions(CPartitionLayout const& layout, CPartitionType const& type)
{
    struct CPiece
    {
        char const* name;
        uint64_t start;
        uint64_t count;
        bool free;
    };
    uint64_t last = layout.totalSectors - 1;
    uint64_t partitionEnd = layout.partitionStart + layout.partitionSectors;
    std::string const partitionName = "disk image (" + type.name;
    CPiece const pieces[] = {
        {"Protective Master Boot Record (MBR", 0, 1, false},
        {"GPT Header (Primary GPT Header", 1, 1, false},
        {"GPT Partition Data (Primary GPT Table", 2, kTableSectors, false},
        {" (Apple_Free", 2 + kTableSectors, layout.partitionStart - 2 - kTableSectors, true},
        {partitionName.c_str(), layout.partitionStart, layout.partitionSectors, false},
        {" (Apple_Free", partitionEnd, last - kTableSectors - partitionEnd, true},
        {"GPT Partition Data (Backup GPT Table", last - kTableSectors, kTableSectors, false},
        {"GPT Header (Backup GPT Header", last, 1, false},
    };
    std::vector<CUdifRegion> regions;
    for (CPiece const& piece : pieces)
    {
        if (piece.count == 0)
            continue;
        CUdifRegion region;
        int index = static_cast<int>(regions.size());
        region.name = std::string(piece.name) + " : " + std::to_string(index) + ")";
        region.id = index - 1;
        region.startSector = piece.start;
        region.sectorCount = piece.count;
        // Free gaps hold nothing; they read back as zeros.
        if (piece.free)
            region.unusedSectors.push_back({piece.start, piece.count});
        regions.push_back(region);
    }
    return regions;
}
