// Writing and reading the blobs of an embedded code signature.
//
// Superblob: 0 magic 0xfade0cc0, 4 length of the whole superblob, 8 blob count, 12 index entries of
//   8 bytes (slot, offset of the blob from the superblob's start), then the blobs.
// CodeDirectory, version 0x20200 (0x20300 for images of 4 GiB and more):
//   0 magic 0xfade0c02   4 length   8 version   12 flags   16 hash offset (of code slot 0)
//   20 identifier offset   24 special slot count   28 code slot count   32 code limit (32-bit)
//   36 hash size (32)   37 hash type (2: SHA-256)   38 platform (0)   39 log2 page size (0: the
//   whole range is one page)   40 spare   44 scatter offset (0)   48 team identifier offset (0: none)
//   version 0x20300 adds: 52 spare   56 64-bit code limit.
//   Then the identifier and team identifier, NUL-terminated, then special slot N down to 1, each a
//   hash, then the code slot; special slot i is at hash offset - i * hash size.
// Requirement set: magic 0xfade0c01, length 12, count 0. CMS wrapper: magic 0xfade0b01, length,
// the DER bytes (none for an ad-hoc signature).
#include "signing/CodeSignatureBlobs.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <openssl/evp.h>

namespace
{
constexpr uint32_t kVersionWithTeam = 0x20200;
constexpr uint32_t kVersionWithCodeLimit64 = 0x20300;
constexpr uint8_t kHashTypeSha256 = 2;
constexpr uint32_t kSpecialSlotCount = kSlotRepSpecific;
constexpr size_t kHeaderWithTeam = 52;
constexpr size_t kHeaderWithCodeLimit64 = 64;

void AppendBe32(std::vector<uint8_t>* bytes, uint32_t value)
{
    uint8_t field[4];
    PutBe32(field, value);
    bytes->insert(bytes->end(), field, field + 4);
}

std::string ReadCString(std::vector<uint8_t> const& blob, uint32_t offset)
{
    if (offset == 0 || offset >= blob.size())
        return {};
    auto const begin = blob.begin() + offset;
    return std::string(begin, std::find(begin, blob.end(), 0));
}
} // namespace

std::vector<uint8_t> BuildCodeDirectory(CImageCodeDirectory const& directory)
{
    bool const large = directory.codeLimit > UINT32_MAX;
    size_t const headerSize = large ? kHeaderWithCodeLimit64 : kHeaderWithTeam;
    size_t const identOffset = headerSize;
    size_t const teamOffset = identOffset + directory.identifier.size() + 1;
    size_t const hashesStart = teamOffset + (directory.team.empty() ? 0 : directory.team.size() + 1);
    size_t const hashOffset = hashesStart + kSpecialSlotCount * 32;
    std::vector<uint8_t> blob(hashOffset + 32);
    uint8_t* p = blob.data();
    PutBe32(p, kCodeDirectoryMagic);
    PutBe32(p + 4, uint32_t(blob.size()));
    PutBe32(p + 8, large ? kVersionWithCodeLimit64 : kVersionWithTeam);
    PutBe32(p + 12, directory.flags);
    PutBe32(p + 16, uint32_t(hashOffset));
    PutBe32(p + 20, uint32_t(identOffset));
    PutBe32(p + 24, kSpecialSlotCount);
    PutBe32(p + 28, 1);
    PutBe32(p + 32, large ? 0 : uint32_t(directory.codeLimit));
    p[36] = 32;
    p[37] = kHashTypeSha256;
    PutBe32(p + 48, directory.team.empty() ? 0 : uint32_t(teamOffset));
    if (large)
        PutBe64(p + 56, directory.codeLimit);
    std::memcpy(p + identOffset, directory.identifier.c_str(), directory.identifier.size() + 1);
    if (!directory.team.empty())
        std::memcpy(p + teamOffset, directory.team.c_str(), directory.team.size() + 1);
    std::memcpy(p + hashOffset - kSlotRequirements * 32, directory.requirementsHash.data(), 32);
    std::memcpy(p + hashOffset - kSlotRepSpecific * 32, directory.trailerHash.data(), 32);
    std::memcpy(p + hashOffset, directory.codeHash.data(), 32);
    return blob;
}

bool ParseCodeDirectory(std::vector<uint8_t> const& blob, CImageCodeDirectory* directory, std::string* error)
{
    uint8_t const* p = blob.data();
    if (blob.size() < kHeaderWithTeam || GetBe32(p) != kCodeDirectoryMagic || GetBe32(p + 4) > blob.size())
    {
        *error = "the code signature's CodeDirectory is damaged";
        return false;
    }
    uint32_t const version = GetBe32(p + 8);
    uint32_t const hashOffset = GetBe32(p + 16);
    uint32_t const specialSlots = GetBe32(p + 24);
    if (p[36] != 32 || p[37] != kHashTypeSha256 || GetBe32(p + 28) != 1 || specialSlots < kSlotRepSpecific ||
        hashOffset < specialSlots * 32u || uint64_t(hashOffset) + 32 > GetBe32(p + 4))
    {
        *error = "the code signature's CodeDirectory is not a SHA-256 one of a whole disk image";
        return false;
    }
    directory->flags = GetBe32(p + 12);
    directory->identifier = ReadCString(blob, GetBe32(p + 20));
    directory->team = version >= kVersionWithTeam ? ReadCString(blob, GetBe32(p + 48)) : std::string();
    directory->codeLimit = GetBe32(p + 32);
    if (version >= kVersionWithCodeLimit64 && blob.size() >= kHeaderWithCodeLimit64 && GetBe64(p + 56) != 0)
        directory->codeLimit = GetBe64(p + 56);
    std::memcpy(directory->codeHash.data(), p + hashOffset, 32);
    std::memcpy(directory->requirementsHash.data(), p + hashOffset - kSlotRequirements * 32, 32);
    std::memcpy(directory->trailerHash.data(), p + hashOffset - kSlotRepSpecific * 32, 32);
    return true;
}

std::vector<uint8_t> BuildEmptyRequirementSet()
{
    std::vector<uint8_t> blob;
    AppendBe32(&blob, kRequirementSetMagic);
    AppendBe32(&blob, 12);
    AppendBe32(&blob, 0);
    return blob;
}

std::vector<uint8_t> WrapCmsSignature(std::vector<uint8_t> const& der)
{
    std::vector<uint8_t> blob;
    AppendBe32(&blob, kBlobWrapperMagic);
    AppendBe32(&blob, uint32_t(8 + der.size()));
    blob.insert(blob.end(), der.begin(), der.end());
    return blob;
}

std::vector<uint8_t> BuildSuperBlob(std::vector<CSignatureBlob> const& blobs)
{
    std::vector<uint8_t> super;
    size_t total = 12 + 8 * blobs.size();
    for (CSignatureBlob const& blob : blobs)
        total += blob.bytes.size();
    AppendBe32(&super, kEmbeddedSignatureMagic);
    AppendBe32(&super, uint32_t(total));
    AppendBe32(&super, uint32_t(blobs.size()));
    size_t offset = 12 + 8 * blobs.size();
    for (CSignatureBlob const& blob : blobs)
    {
        AppendBe32(&super, blob.slot);
        AppendBe32(&super, uint32_t(offset));
        offset += blob.bytes.size();
    }
    for (CSignatureBlob const& blob : blobs)
        super.insert(super.end(), blob.bytes.begin(), blob.bytes.end());
    return super;
}

bool ParseSuperBlob(uint8_t const* data, size_t size, std::vector<CSignatureBlob>* blobs, std::string* error)
{
    blobs->clear();
    if (size < 12 || GetBe32(data) != kEmbeddedSignatureMagic || GetBe32(data + 4) > size ||
        GetBe32(data + 8) > (size - 12) / 8)
    {
        *error = "the code signature is not an embedded signature superblob";
        return false;
    }
    size_t const length = GetBe32(data + 4);
    uint32_t const count = GetBe32(data + 8);
    std::vector<std::pair<uint32_t, uint32_t>> index; // offset, slot
    for (uint32_t i = 0; i < count; ++i)
    {
        uint32_t const offset = GetBe32(data + 16 + 8 * i);
        if (offset < 12 + 8 * size_t(count) || offset > length)
        {
            *error = "the code signature's index points outside it";
            return false;
        }
        index.emplace_back(offset, GetBe32(data + 12 + 8 * i));
    }
    std::vector<std::pair<uint32_t, uint32_t>> sorted = index;
    std::sort(sorted.begin(), sorted.end());
    for (auto const& [offset, slot] : index)
    {
        auto const next = std::upper_bound(sorted.begin(), sorted.end(), std::make_pair(offset, UINT32_MAX));
        size_t end = next == sorted.end() ? length : next->first;
        // A blob with a header of its own ends where its length says.
        if (end - offset >= 8 && (GetBe32(data + offset) >> 16) == 0xFADE && GetBe32(data + offset + 4) >= 8 &&
            GetBe32(data + offset + 4) <= end - offset)
            end = offset + GetBe32(data + offset + 4);
        blobs->push_back({slot, std::vector<uint8_t>(data + offset, data + end)});
    }
    return true;
}

CSha256 HashSha256(void const* data, size_t size)
{
    CSha256 hash{};
    unsigned int length = 0;
    EVP_Digest(data, size, hash.data(), &length, EVP_sha256(), nullptr);
    return hash;
}

std::string FormatHex(uint8_t const* data, size_t size)
{
    static char const kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i)
    {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}
