// Writing a signed image: the bytes up to the end of the property list copied (and hashed on the way),
// then the signature superblob, then the trailer that locates it.
#include "signing/ImageSigner.h"

#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"
#include "io/FileDescriptor.h"
#include "io/SourceDateEpoch.h"
#include "io/TempOutputFile.h"
#include "signing/CmsSignature.h"
#include "signing/CodeSignatureBlobs.h"
#include "signing/ImageSignatureReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Tickets from the notary service are a few kilobytes.
constexpr off_t kMaxTicketBytes = 1 << 20;

// The image opened for reading, with its layout checked.
struct COpenImage
{
    CFileDescriptor fd;
    mode_t mode = 0644;
    CImageSignatureLayout layout;
};

bool OpenImage(std::string const& path, bool forWriting, COpenImage* image, std::string* error)
{
    image->fd.Reset(open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC));
    struct stat info;
    if (!image->fd.IsOpen() || fstat(image->fd.Get(), &info) != 0)
    {
        *error = "cannot open the image '" + path + "': " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode))
    {
        *error = "the image '" + path + "' is not a regular file";
        return false;
    }
    image->mode = info.st_mode & 07777;
    int const fd = image->fd.Get();
    CImageReadAt const read = [fd](uint64_t offset, uint8_t* data, size_t size, std::string* why) {
        return ReadAllAt(fd, data, size, offset, why);
    };
    if (!ReadImageSignatureLayout(read, uint64_t(info.st_size), &image->layout, error))
    {
        *error = "'" + path + "' can't be signed: " + *error;
        return false;
    }
    return true;
}

// Copies the first `size` bytes of the image into `out` (unless it is null), giving their SHA-256.
bool CopyAndHash(int fd, uint64_t size, CTempOutputFile* out, CSha256* hash, std::string* error)
{
    CImageReadAt const read = [fd](uint64_t offset, uint8_t* data, size_t length, std::string* why) {
        return ReadAllAt(fd, data, length, offset, why);
    };
    CImageChunkSink const copy = [out](uint8_t const* data, size_t length, std::string* why) {
        return out->Write(data, length, why);
    };
    return HashImageRange(read, size, out ? copy : CImageChunkSink(), hash, error);
}

// The rest of the new image after its copied part: the superblob and the trailer naming it.
bool FinishImage(CTempOutputFile* out, CImageSignatureLayout const& layout, std::vector<uint8_t> const& superBlob,
                 std::string* error)
{
    std::array<uint8_t, kKolyTrailerSize> koly = GetTrailerForHashing(layout);
    PutBe64(koly.data() + kKolyCodeSignatureSize, superBlob.size());
    return out->Write(superBlob.data(), superBlob.size(), error) && out->Write(koly.data(), koly.size(), error) &&
           out->Commit(error);
}

// The same written over the image's own tail, which is then cut where the new trailer ends.
bool FinishImageInPlace(int fd, CImageSignatureLayout const& layout, std::vector<uint8_t> const& superBlob,
                        std::string* error)
{
    std::array<uint8_t, kKolyTrailerSize> koly = GetTrailerForHashing(layout);
    PutBe64(koly.data() + kKolyCodeSignatureSize, superBlob.size());
    uint64_t const end = layout.codeEnd + superBlob.size() + koly.size();
    if (!WriteAllAt(fd, superBlob.data(), superBlob.size(), layout.codeEnd, error) ||
        !WriteAllAt(fd, koly.data(), koly.size(), layout.codeEnd + superBlob.size(), error))
        return false;
    if (ftruncate(fd, off_t(end)) != 0 || fsync(fd) != 0)
    {
        *error = std::string("cannot finish the signed image: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The identifier codesign gives a disk image: its file name without the extension.
std::string GetImageIdentifier(std::string const& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    size_t const dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && strcasecmp(name.c_str() + dot, ".dmg") == 0)
        name.erase(dot);
    return name.empty() ? "image" : name;
}

int64_t GetSigningTime()
{
    int64_t seconds = 0;
    return GetSourceDateEpoch(&seconds) ? seconds : int64_t(std::time(nullptr));
}
} // namespace

namespace
{
bool SignImage(std::string const& path, CSigningSettings const& settings, bool inPlace, std::string* error)
{
    COpenImage image;
    if (!OpenImage(path, inPlace, &image, error))
        return false;
    CSigningIdentity identity;
    if (!identity.Load(settings, error))
        return false;
    CTempOutputFile out("image");
    CImageCodeDirectory directory;
    if (!inPlace && !out.Open(path, error))
        return false;
    if (!CopyAndHash(image.fd.Get(), image.layout.codeEnd, inPlace ? nullptr : &out, &directory.codeHash, error))
        return false;
    if (!inPlace)
        fchmod(out.GetDescriptor(), image.mode);

    std::vector<uint8_t> const requirements = BuildEmptyRequirementSet();
    std::array<uint8_t, kKolyTrailerSize> const koly = GetTrailerForHashing(image.layout);
    directory.identifier = GetImageIdentifier(path);
    directory.team = identity.GetTeam();
    directory.flags = identity.IsAdhoc() ? kCodeSignatureAdhoc : 0;
    directory.codeLimit = image.layout.codeEnd;
    directory.requirementsHash = HashSha256(requirements.data(), requirements.size());
    directory.trailerHash = HashSha256(koly.data(), koly.size());
    std::vector<uint8_t> const codeDirectory = BuildCodeDirectory(directory);

    std::vector<uint8_t> cms;
    if (!identity.IsAdhoc() &&
        !BuildCmsSignature(identity, codeDirectory, GetSigningTime(), settings.timestampUrl, &cms, error))
        return false;
    std::vector<uint8_t> const superBlob = BuildSuperBlob({{kSlotCodeDirectory, codeDirectory},
                                                           {kSlotRequirements, requirements},
                                                           {kSlotCmsSignature, WrapCmsSignature(cms)}});
    return inPlace ? FinishImageInPlace(image.fd.Get(), image.layout, superBlob, error)
                   : FinishImage(&out, image.layout, superBlob, error);
}
} // namespace

bool SignUdifImage(std::string const& path, CSigningSettings const& settings, std::string* error)
{
    return SignImage(path, settings, false, error);
}

bool SignNewUdifImage(std::string const& path, CSigningSettings const& settings, std::string* error)
{
    return SignImage(path, settings, true, error);
}

bool StapleUdifImage(std::string const& path, std::string const& ticketPath, std::string* error)
{
    COpenImage image;
    if (!OpenImage(path, false, &image, error))
        return false;
    if (image.layout.signatureSize == 0)
    {
        *error = "the image '" + path + "' is not signed; sign it (and have it notarized) before stapling a ticket";
        return false;
    }
    CFileDescriptor ticketFile(open(ticketPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!ticketFile.IsOpen() || fstat(ticketFile.Get(), &info) != 0)
    {
        *error = "cannot read the ticket '" + ticketPath + "': " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size == 0 || info.st_size > kMaxTicketBytes)
    {
        *error = "the ticket '" + ticketPath + "' is not a notarization ticket (empty, too large or not a file)";
        return false;
    }
    std::vector<uint8_t> ticket(size_t(info.st_size));
    std::vector<uint8_t> signature(image.layout.signatureSize);
    std::vector<CSignatureBlob> blobs;
    if (!ReadAllAt(ticketFile.Get(), ticket.data(), ticket.size(), 0, error) ||
        !ReadAllAt(image.fd.Get(), signature.data(), signature.size(), image.layout.signatureOffset, error) ||
        !ParseSuperBlob(signature.data(), signature.size(), &blobs, error))
    {
        *error = "'" + path + "': " + *error;
        return false;
    }
    if (std::none_of(blobs.begin(), blobs.end(),
                     [](CSignatureBlob const& blob) { return blob.slot == kSlotCodeDirectory; }))
    {
        *error = "the signature of '" + path + "' has no CodeDirectory";
        return false;
    }
    blobs.erase(std::remove_if(blobs.begin(), blobs.end(),
                               [](CSignatureBlob const& blob) { return blob.slot == kSlotTicket; }),
                blobs.end());
    blobs.push_back({kSlotTicket, std::move(ticket)});

    CTempOutputFile out("image");
    CSha256 ignored;
    if (!out.Open(path, error) || !CopyAndHash(image.fd.Get(), image.layout.codeEnd, &out, &ignored, error))
        return false;
    fchmod(out.GetDescriptor(), image.mode);
    return FinishImage(&out, image.layout, BuildSuperBlob(blobs), error);
}
