#include "platform/AliasRecord.h"

#include "bytes/ByteOrder.h"

namespace
{
constexpr size_t kFixedPartBytes = 150;
constexpr uint32_t kRootFolderId = 2;

// Tags of the extras.
constexpr int16_t kTagParentName = 0;
constexpr int16_t kTagFolderIds = 1;
constexpr int16_t kTagCarbonPath = 2;
constexpr int16_t kTagUnicodeName = 14;
constexpr int16_t kTagUnicodeVolumeName = 15;
constexpr int16_t kTagPosixPath = 18;
constexpr int16_t kTagMountPoint = 19;
constexpr int16_t kTagEnd = -1;

// Code points of UTF-8 text; a byte that starts no valid sequence stands for U+FFFD.
std::vector<uint32_t> DecodeUtf8(std::string const& text)
{
    std::vector<uint32_t> points;
    size_t i = 0;
    while (i < text.size())
    {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        int extra = lead < 0x80           ? 0
                    : (lead >> 5) == 0x6  ? 1
                    : (lead >> 4) == 0xE  ? 2
                    : (lead >> 3) == 0x1E ? 3
                                          : -1;
        uint32_t point = extra == 0   ? lead
                         : extra == 1 ? lead & 0x1F
                         : extra == 2 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k)
        {
            uint8_t next = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        if (!valid || point > 0x10FFFF)
        {
            points.push_back(0xFFFD);
            ++i;
            continue;
        }
        points.push_back(point);
        i += static_cast<size_t>(extra) + 1;
    }
    return points;
}

// A name as Carbon spells it: ':' is the path separator there, so a ':' in a name becomes '/'.
// Characters outside ASCII have no single-byte form here and become '?'.
std::string MakeCarbonName(std::string const& name)
{
    std::string carbon;
    for (uint32_t point : DecodeUtf8(name))
        carbon += point == ':' ? '/' : point < 0x80 ? static_cast<char>(point) : '?';
    return carbon;
}

// HFSUniStr255 form: a 16-bit count of UTF-16 units, then the units; ':' stored as '/'.
std::vector<uint8_t> MakeUnicodeName(std::string const& name)
{
    std::vector<uint16_t> units;
    for (uint32_t point : DecodeUtf8(name))
    {
        if (point == ':')
            point = '/';
        if (point >= 0x10000)
        {
            point -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (point >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (point & 0x3FF)));
        }
        else
            units.push_back(static_cast<uint16_t>(point));
    }
    std::vector<uint8_t> bytes(2 + 2 * units.size());
    PutBigEndian(bytes.data(), units.size(), 2);
    for (size_t i = 0; i < units.size(); ++i)
        PutBigEndian(bytes.data() + 2 + 2 * i, units[i], 2);
    return bytes;
}

// A Pascal string of at most `capacity` characters in a field of capacity + 1 bytes.
void PutPascalString(uint8_t* field, size_t capacity, std::string const& text)
{
    size_t length = text.size() < capacity ? text.size() : capacity;
    field[0] = static_cast<uint8_t>(length);
    for (size_t i = 0; i < length; ++i)
        field[1 + i] = static_cast<uint8_t>(text[i]);
}

void AppendExtra(std::vector<uint8_t>* record, int16_t tag, std::vector<uint8_t> const& data)
{
    size_t at = record->size();
    record->resize(at + 4);
    PutBigEndian(record->data() + at, static_cast<uint16_t>(tag), 2);
    PutBigEndian(record->data() + at + 2, data.size(), 2);
    record->insert(record->end(), data.begin(), data.end());
    if (data.size() % 2 != 0)
        record->push_back(0);
}

std::vector<uint8_t> ToBytes(std::string const& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}
} // namespace

std::vector<uint8_t> BuildAliasRecord(CAliasFacts const& facts)
{
    if (facts.pathNames.empty())
        return {};
    std::string const& targetName = facts.pathNames.back();
    std::string parentName =
        facts.pathNames.size() > 1 ? facts.pathNames[facts.pathNames.size() - 2] : facts.volumeName;
    uint32_t parentId = facts.folderIds.empty() ? kRootFolderId : facts.folderIds.back();

    std::vector<uint8_t> record(kFixedPartBytes, 0);
    uint8_t* r = record.data();
    PutBigEndian(r + 6, 2, 2); // version
    PutBigEndian(r + 8, facts.targetIsFolder ? 1 : 0, 2);
    PutPascalString(r + 10, 27, MakeCarbonName(facts.volumeName));
    PutBigEndian(r + 38, facts.volumeCreateDate, 4);
    r[42] = 'H';
    r[43] = '+';
    PutBigEndian(r + 44, kAliasDiskTypeEjectable, 2);
    PutBigEndian(r + 46, parentId, 4);
    PutPascalString(r + 50, 63, MakeCarbonName(targetName));
    PutBigEndian(r + 114, facts.targetId, 4);
    PutBigEndian(r + 118, facts.targetCreateDate, 4);
    PutBigEndian(r + 122, facts.fileType, 4);
    PutBigEndian(r + 126, facts.fileCreator, 4);
    PutBigEndian(r + 130, static_cast<uint16_t>(facts.levelsFrom), 2);
    PutBigEndian(r + 132, static_cast<uint16_t>(facts.levelsTo), 2);
    // Volume attributes, file system ID and the reserved bytes stay zero.

    AppendExtra(&record, kTagParentName, ToBytes(MakeCarbonName(parentName)));
    // The folders' IDs from the parent up towards the root, the root itself not included.
    if (!facts.folderIds.empty())
    {
        std::vector<uint8_t> ids(4 * facts.folderIds.size());
        for (size_t i = 0; i < facts.folderIds.size(); ++i)
            PutBigEndian(ids.data() + 4 * i, facts.folderIds[facts.folderIds.size() - 1 - i], 4);
        AppendExtra(&record, kTagFolderIds, ids);
    }
    std::string carbonPath = MakeCarbonName(facts.volumeName);
    std::string posixPath;
    for (std::string const& name : facts.pathNames)
    {
        carbonPath += ":" + MakeCarbonName(name);
        posixPath += "/" + name;
    }
    AppendExtra(&record, kTagCarbonPath, ToBytes(carbonPath));
    AppendExtra(&record, kTagUnicodeName, MakeUnicodeName(targetName));
    AppendExtra(&record, kTagUnicodeVolumeName, MakeUnicodeName(facts.volumeName));
    AppendExtra(&record, kTagPosixPath, ToBytes(posixPath));
    // The volume mounts under its name; a '/' in the name can't be part of a path there.
    std::string mountName = facts.volumeName;
    for (char& c : mountName)
        c = c == '/' ? ':' : c;
    AppendExtra(&record, kTagMountPoint, ToBytes("/Volumes/" + mountName));
    AppendExtra(&record, kTagEnd, {});

    if (record.size() > 0xFFFF)
        return {};
    PutBigEndian(record.data() + 4, record.size(), 2);
    return record;
}
