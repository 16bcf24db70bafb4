// Locating a disk image's code signature and checking every hash in it against the image.
//
// 'koly' trailer fields read here (big-endian): 0 'koly', 4 version, 8 header size (512), 24 data fork
// offset, 32 data fork length, 216 property list offset, 224 its length, 296 code signature offset,
// 304 code signature size.
#include "signing/ImageSignatureReader.h"

#include "io/ByteOrder.h"
#include "signing/CmsSignature.h"
#include "signing/CodeSignatureBlobs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <openssl/evp.h>

namespace
{
constexpr size_t kReadChunk = 1 << 20;
// Signatures are a few kilobytes, tickets some more; a larger one is taken as damage.
constexpr uint64_t kMaxSignatureBytes = 16u << 20;

CSignatureBlob const* FindBlob(std::vector<CSignatureBlob> const& blobs, uint32_t slot)
{
    for (CSignatureBlob const& blob : blobs)
        if (blob.slot == slot)
            return &blob;
    return nullptr;
}

} // namespace

bool ReadImageSignatureLayout(CImageReadAt const& read, uint64_t fileSize, CImageSignatureLayout* layout,
                              std::string* error)
{
    uint8_t* koly = layout->koly;
    if (fileSize < kKolyTrailerSize || !read(fileSize - kKolyTrailerSize, koly, kKolyTrailerSize, error) ||
        GetBe32(koly) != kKolySignature || GetBe32(koly + 8) != kKolyTrailerSize)
    {
        *error = "it is not a UDIF disk image (no 'koly' trailer at its end; truncated or another kind of file)";
        return false;
    }
    layout->trailerOffset = fileSize - kKolyTrailerSize;
    uint64_t const dataEnd = GetBe64(koly + 24) + GetBe64(koly + 32);
    uint64_t const xmlOffset = GetBe64(koly + 216);
    uint64_t const xmlLength = GetBe64(koly + 224);
    layout->signatureOffset = GetBe64(koly + kKolyCodeSignatureOffset);
    layout->signatureSize = GetBe64(koly + kKolyCodeSignatureSize);
    uint64_t const trailer = layout->trailerOffset;
    if (GetBe64(koly + 24) > trailer || GetBe64(koly + 32) > trailer || xmlOffset > trailer ||
        xmlLength > trailer - xmlOffset || xmlLength == 0 || dataEnd > xmlOffset)
    {
        *error = "its trailer points outside the file (a truncated or damaged image)";
        return false;
    }
    layout->codeEnd = xmlOffset + xmlLength;
    if (layout->signatureSize == 0)
    {
        if (layout->codeEnd != trailer)
        {
            *error = "its property list is not followed by its trailer, so there is no place for a signature";
            return false;
        }
        layout->signatureOffset = 0;
        return true;
    }
    if (layout->signatureOffset != layout->codeEnd || layout->signatureSize > trailer - layout->codeEnd ||
        layout->signatureSize > kMaxSignatureBytes)
    {
        *error = "its code signature is not between its property list and its trailer";
        return false;
    }
    return true;
}

bool HashImageRange(CImageReadAt const& read, uint64_t size, CImageChunkSink const& consume, CSha256* hash,
                    std::string* error)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || !EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr))
    {
        *error = "cannot start a SHA-256 hash";
        return false;
    }
    std::vector<uint8_t> buffer(kReadChunk);
    for (uint64_t done = 0; done < size;)
    {
        size_t const n = size_t(std::min<uint64_t>(size - done, buffer.size()));
        if (!read(done, buffer.data(), n, error) || (consume && !consume(buffer.data(), n, error)))
            return false;
        EVP_DigestUpdate(context.get(), buffer.data(), n);
        done += n;
    }
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), hash->data(), &length);
    return true;
}

std::array<uint8_t, kKolyTrailerSize> GetTrailerForHashing(CImageSignatureLayout const& layout)
{
    std::array<uint8_t, kKolyTrailerSize> koly;
    std::memcpy(koly.data(), layout.koly, koly.size());
    PutBe64(koly.data() + kKolyCodeSignatureOffset, layout.codeEnd);
    PutBe64(koly.data() + kKolyCodeSignatureSize, 0);
    return koly;
}

bool DescribeImageSignature(CImageReadAt const& read, uint64_t fileSize, std::vector<std::string>* lines,
                            std::string* error)
{
    lines->clear();
    CImageSignatureLayout layout;
    if (!ReadImageSignatureLayout(read, fileSize, &layout, error))
        return true; // not an image this reader can sign: nothing to say about a signature
    if (layout.signatureSize == 0)
        return true;
    std::vector<uint8_t> bytes(layout.signatureSize);
    std::vector<CSignatureBlob> blobs;
    CImageCodeDirectory directory;
    if (!read(layout.signatureOffset, bytes.data(), bytes.size(), error) ||
        !ParseSuperBlob(bytes.data(), bytes.size(), &blobs, error))
        return false;
    CSignatureBlob const* codeDirectory = FindBlob(blobs, kSlotCodeDirectory);
    if (!codeDirectory)
    {
        *error = "the code signature has no CodeDirectory";
        return false;
    }
    if (!ParseCodeDirectory(codeDirectory->bytes, &directory, error))
        return false;

    CSha256 const cdHash = HashSha256(codeDirectory->bytes.data(), codeDirectory->bytes.size());
    lines->push_back("Code signature: identifier \"" + directory.identifier + "\", CDHash sha256 " +
                     FormatHex(cdHash.data(), cdHash.size()));

    std::vector<std::string> failed;
    CSha256 codeHash{};
    if (directory.codeLimit != layout.codeEnd || !HashImageRange(read, layout.codeEnd, nullptr, &codeHash, error) ||
        codeHash != directory.codeHash)
        failed.push_back("image");
    std::array<uint8_t, kKolyTrailerSize> const koly = GetTrailerForHashing(layout);
    if (HashSha256(koly.data(), koly.size()) != directory.trailerHash)
        failed.push_back("trailer");
    CSignatureBlob const* requirements = FindBlob(blobs, kSlotRequirements);
    if (!requirements ||
        HashSha256(requirements->bytes.data(), requirements->bytes.size()) != directory.requirementsHash)
        failed.push_back("requirements");

    CSignatureBlob const* cms = FindBlob(blobs, kSlotCmsSignature);
    std::vector<uint8_t> der;
    if (cms && cms->bytes.size() > 8)
        der.assign(cms->bytes.begin() + 8, cms->bytes.end());
    if (der.empty())
        lines->push_back("Signer: (ad-hoc)");
    else
    {
        CCmsSigner signer;
        std::string reason;
        if (!ReadCmsSigner(der, codeDirectory->bytes, &signer, &reason) || !signer.verifies)
            failed.push_back("CMS signature");
        lines->push_back("Signer: \"" + signer.subject + "\", team \"" + signer.team + "\", valid " +
                         signer.validFrom + " to " + signer.validUntil +
                         (signer.timestamped ? ", time-stamped" : ", no time stamp"));
        if (!directory.team.empty() && directory.team != signer.team)
            failed.push_back("team identifier");
    }
    std::string verdict = "Hashes: every hash verifies";
    if (!failed.empty())
    {
        verdict = "Hashes: FAILED for the ";
        for (size_t i = 0; i < failed.size(); ++i)
            verdict += (i == 0 ? "" : ", ") + failed[i];
    }
    lines->push_back(verdict);
    CSignatureBlob const* ticket = FindBlob(blobs, kSlotTicket);
    lines->push_back(ticket ? "Notarization ticket: stapled (" + std::to_string(ticket->bytes.size()) + " bytes)"
                            : "Notarization ticket: none");
    return true;
}
