#include "finder/AliasRecord.h"

#include "hfsplus/HfsNames.h"
#include "io/ByteOrder.h"
#include "io/HfsConstants.h"

#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

namespace
{
constexpr size_t kFixedPartBytes = 150;
constexpr size_t kTargetIdAt = 114;

// Tags of the extras.
constexpr int16_t kTagParentName = 0;
constexpr int16_t kTagFolderIds = 1;
constexpr int16_t kTagCarbonPath = 2;
constexpr int16_t kTagVolumeDate = 16;
constexpr int16_t kTagTargetDate = 17;
constexpr int16_t kTagUnicodeName = 14;
constexpr int16_t kTagUnicodeVolumeName = 15;
constexpr int16_t kTagPosixPath = 18;
constexpr int16_t kTagMountPoint = 19;
constexpr int16_t kTagEnd = -1;

// A name as the volume stores it: decomposed UTF-16 with ':' as '/'. A name the volume could not
// store keeps its characters undecomposed, so that the record still says something.
std::u16string MakeStoredName(std::string const& name)
{
    std::u16string stored;
    std::string error;
    if (ConvertNameToHfs(name, &stored, &error))
        return stored;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
    stored.assign(reinterpret_cast<char16_t const*>(text.getBuffer()), size_t(text.length()));
    for (char16_t& c : stored)
        c = c == u':' ? u'/' : c;
    return stored;
}

// A name as Carbon spells it: Mac Roman, composed, with ':' (Carbon's path separator) as '/'.
// Characters Mac Roman lacks become '?'.
std::string MakeCarbonName(std::string const& name)
{
    std::u16string stored = MakeStoredName(name);
    icu::UnicodeString text(reinterpret_cast<UChar const*>(stored.data()), int32_t(stored.size()));
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString composed = icu::Normalizer2::getNFCInstance(status)->normalize(text, status);
    if (U_FAILURE(status))
        composed = text;
    std::string carbon;
    status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("macintosh", &status);
    if (converter)
        ucnv_setSubstChars(converter, "?", 1, &status);
    if (converter && U_SUCCESS(status))
    {
        std::vector<char> bytes(size_t(composed.length()) * 4 + 1);
        int32_t length = composed.extract(bytes.data(), int32_t(bytes.size()), converter, status);
        if (U_SUCCESS(status))
            carbon.assign(bytes.data(), size_t(length));
    }
    ucnv_close(converter);
    if (carbon.empty() && !composed.isEmpty())
    {
        // Without the converter only ASCII keeps its meaning.
        for (int32_t i = 0; i < composed.length(); i = composed.moveIndex32(i, 1))
        {
            UChar32 c = composed.char32At(i);
            carbon += c < 0x80 ? char(c) : '?';
        }
    }
    return carbon;
}

// HFSUniStr255 form: a 16-bit count of UTF-16 units, then the units as the volume stores them.
std::vector<uint8_t> MakeUnicodeName(std::string const& name)
{
    std::u16string units = MakeStoredName(name);
    std::vector<uint8_t> bytes(2 + 2 * units.size());
    PutBe16(bytes.data(), units.size());
    for (size_t i = 0; i < units.size(); ++i)
        PutBe16(bytes.data() + 2 + 2 * i, units[i]);
    return bytes;
}

// UTCDateTime: 16-bit high seconds, 32-bit low seconds since 1904 (GMT), 16-bit fraction.
std::vector<uint8_t> MakeHighResolutionDate(uint32_t seconds)
{
    std::vector<uint8_t> bytes(8, 0);
    PutBe32(bytes.data() + 2, seconds);
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
    PutBe16(record->data() + at, static_cast<uint16_t>(tag));
    PutBe16(record->data() + at + 2, data.size());
    record->insert(record->end(), data.begin(), data.end());
    if (data.size() % 2 != 0)
        record->push_back(0);
}

std::vector<uint8_t> ToBytes(std::string const& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}
} // namespace

// Alias record, version 2 (the Alias Manager's AliasRecord as public write-ups describe it and
// Finder-written .DS_Store files show), big-endian:
//   offset size meaning
//        0    4 creator code (0)
//        4    2 record length, extras included
//        6    2 version, 2
//        8    2 kind: 0 file, 1 folder
//       10   28 volume name, Pascal string (Mac Roman)
//       38    4 volume creation date, seconds since 1904, local time
//       42    2 file system signature 'H+'
//       44    2 disk type (5: ejectable)
//       46    4 parent folder's catalog ID
//       50   64 target name, Pascal string (Mac Roman)
//      114    4 target's catalog ID
//      118    4 target creation date, local time
//      122    4 file type
//      126    4 file creator
//      130    2 levels from (-1: unknown)
//      132    2 levels to
//      134    4 volume attributes
//      138    2 volume file system ID (0)
//      140   10 reserved
//      150      extras: tag 2, length 2, data padded to an even length; tag -1 ends them
std::vector<uint8_t> BuildAliasRecord(CAliasFacts const& facts)
{
    if (facts.pathNames.empty())
        return {};
    std::string const& targetName = facts.pathNames.back();
    std::string parentName =
        facts.pathNames.size() > 1 ? facts.pathNames[facts.pathNames.size() - 2] : facts.volumeName;
    uint32_t parentId = facts.folderIds.empty() ? kHfsRootFolderId : facts.folderIds.back();

    std::vector<uint8_t> record(kFixedPartBytes, 0);
    uint8_t* r = record.data();
    PutBe16(r + 6, 2); // version
    PutBe16(r + 8, facts.targetIsFolder ? 1 : 0);
    PutPascalString(r + 10, 27, MakeCarbonName(facts.volumeName));
    PutBe32(r + 38, facts.volumeCreateDate); // local time, as the volume header has it
    r[42] = 'H';
    r[43] = '+';
    PutBe16(r + 44, kAliasDiskTypeEjectable);
    PutBe32(r + 46, parentId);
    PutPascalString(r + 50, 63, MakeCarbonName(targetName));
    PutBe32(r + kTargetIdAt, facts.targetId);
    PutBe32(r + 118, facts.targetCreateDateLocal);
    PutBe32(r + 122, facts.fileType);
    PutBe32(r + 126, facts.fileCreator);
    PutBe16(r + 130, static_cast<uint16_t>(facts.levelsFrom));
    PutBe16(r + 132, static_cast<uint16_t>(facts.levelsTo));
    PutBe32(r + 134, kAliasVolumeAttributes);
    // File system ID and the reserved bytes stay zero.

    AppendExtra(&record, kTagParentName, ToBytes(MakeCarbonName(parentName)));
    AppendExtra(&record, kTagVolumeDate, MakeHighResolutionDate(facts.volumeCreateDateGmt));
    AppendExtra(&record, kTagTargetDate, MakeHighResolutionDate(facts.targetCreateDate));
    // The folders' IDs from the parent up towards the root, the root itself not included: empty
    // for a target in the root.
    std::vector<uint8_t> ids(4 * facts.folderIds.size());
    for (size_t i = 0; i < facts.folderIds.size(); ++i)
        PutBe32(ids.data() + 4 * i, facts.folderIds[facts.folderIds.size() - 1 - i]);
    AppendExtra(&record, kTagFolderIds, ids);
    // The Finder puts a NUL before every name after the first below the volume.
    std::string carbonPath = MakeCarbonName(facts.volumeName);
    std::string posixPath;
    for (size_t i = 0; i < facts.pathNames.size(); ++i)
    {
        carbonPath += i == 0 ? ":" : std::string(":\0", 2);
        carbonPath += MakeCarbonName(facts.pathNames[i]);
        posixPath += "/" + ConvertNameToDecomposedUtf8(facts.pathNames[i]);
    }
    AppendExtra(&record, kTagCarbonPath, ToBytes(carbonPath));
    AppendExtra(&record, kTagUnicodeName, MakeUnicodeName(targetName));
    AppendExtra(&record, kTagUnicodeVolumeName, MakeUnicodeName(facts.volumeName));
    AppendExtra(&record, kTagPosixPath, ToBytes(posixPath));
    // The volume mounts under its name; a '/' in the name can't be part of a path there.
    std::string mountName = ConvertNameToDecomposedUtf8(facts.volumeName);
    AppendExtra(&record, kTagMountPoint, ToBytes("/Volumes/" + mountName));
    AppendExtra(&record, kTagEnd, {});

    if (record.size() > 0xFFFF)
        return {};
    PutBe16(record.data() + 4, record.size());
    return record;
}

bool ReadAliasTargetId(std::vector<uint8_t> const& record, uint32_t* targetId)
{
    if (record.size() < kFixedPartBytes || GetBe16(&record[4]) > record.size())
        return false;
    *targetId = GetBe32(&record[kTargetIdAt]);
    return true;
}
