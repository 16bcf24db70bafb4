// The blobs of an embedded code signature: the superblob that indexes them by slot, the
// CodeDirectory of a disk image, the empty requirement set and the CMS wrapper. Every number in
// them is big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kEmbeddedSignatureMagic = 0xFADE0CC0;
constexpr uint32_t kCodeDirectoryMagic = 0xFADE0C02;
constexpr uint32_t kRequirementSetMagic = 0xFADE0C01;
constexpr uint32_t kBlobWrapperMagic = 0xFADE0B01; // holds the CMS signature

constexpr uint32_t kSlotCodeDirectory = 0;
constexpr uint32_t kSlotRequirements = 2;
constexpr uint32_t kSlotRepSpecific = 6; // a disk image: its trailer
constexpr uint32_t kSlotCmsSignature = 0x10000;
constexpr uint32_t kSlotTicket = 0x10002;

constexpr uint32_t kCodeSignatureAdhoc = 0x0002; // CodeDirectory flag of a signature without a signer

using CSha256 = std::array<uint8_t, 32>;

struct CSignatureBlob
{
    uint32_t slot = 0;
    std::vector<uint8_t> bytes; // the whole blob, its own header included (a ticket: as given)
};

// What the CodeDirectory of a disk image says.
struct CImageCodeDirectory
{
    std::string identifier;
    std::string team;     // empty: none
    uint32_t flags = 0;   // kCodeSignatureAdhoc or 0
    uint64_t codeLimit = 0; // bytes hashed into the one code slot: the image up to its signature
    CSha256 codeHash{};
    CSha256 requirementsHash{}; // special slot 2
    CSha256 trailerHash{};      // special slot 6
};

std::vector<uint8_t> BuildCodeDirectory(CImageCodeDirectory const& directory);
// False with a reason when `blob` is not a SHA-256 CodeDirectory of one code slot.
bool ParseCodeDirectory(std::vector<uint8_t> const& blob, CImageCodeDirectory* directory, std::string* error);

std::vector<uint8_t> BuildEmptyRequirementSet();
std::vector<uint8_t> WrapCmsSignature(std::vector<uint8_t> const& der); // empty `der`: ad-hoc

// The superblob of the blobs in the order given.
std::vector<uint8_t> BuildSuperBlob(std::vector<CSignatureBlob> const& blobs);
// Splits a superblob into its blobs, each cut at the next blob's offset (or the superblob's end);
// false with a reason when the index points outside it.
bool ParseSuperBlob(uint8_t const* data, size_t size, std::vector<CSignatureBlob>* blobs, std::string* error);

CSha256 HashSha256(void const* data, size_t size);
std::string FormatHex(uint8_t const* data, size_t size);
