#include "pipeline/ImagePipeline.h"

#include "config/XmlAccess.h"
#include "pipeline/BuildLock.h"
#include "engine/CommandText.h"
#include "pipeline/ContainerContent.h"
#include "config/FinderRecordSet.h"
#include "config/ImageOptions.h"
#include "config/PathRules.h"
#include "io/OutputCheck.h"
#include "preview/PreviewPicture.h"
#include "pipeline/VolumeIcon.h"
#include "signing/ImageSigner.h"
#include "sys/Interruption.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The sparse image's size with template_size="auto", shrunk to its content before the convert: costs
// nothing while it is sparse, and its allocation bitmap (kept at this size) is 1 MB.
constexpr int kAutoSizeMegabytes = 32768;

// Fills the attached volume; a desktop database that can't be written ends the walk like a failure.
bool FillVolume(CBuildContext& context, CXmlTree* imageTree, std::string const& mountPoint)
{
    try
    {
        return ProcessContainer(context, imageTree, mountPoint.c_str(), nullptr, nullptr);
    }
    catch (char const* message)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", message);
        return false;
    }
}

// The preview is drawn from the filled volume, before it is detached; one that can't be drawn
// leaves no file and doesn't fail the image.
void WritePreview(CDiskImageEngine& engine, CXmlTree const* imageTree, std::string const& mountPoint,
                  std::string const& preview)
{
    // The preview sees the volume as the engine holds it; a link is never followed out of it.
    CVolumeReader volume = [&engine, &mountPoint](std::string const& volumePath, std::vector<uint8_t>* bytes,
                                                  std::string* error)
    {
        std::string const path = mountPoint + volumePath;
        switch (engine.LookUp(path))
        {
        case EVolumeEntry::Folder:
            return EPreviewEntry::Folder;
        case EVolumeEntry::File:
            if (bytes && !engine.ReadFile(path, bytes, error))
                return EPreviewEntry::Missing;
            if (bytes && bytes->size() > kLargestPreviewFile)
            {
                *error = "larger than 64 MB";
                bytes->clear();
                return EPreviewEntry::Missing;
            }
            return EPreviewEntry::File;
        default:
            *error = "not a file or folder of the volume";
            return EPreviewEntry::Missing;
        }
    };
    std::string reason;
    if (DrawPreviewPicture(imageTree, volume, preview, &reason))
        return;
    std::remove(preview.c_str());
    std::fprintf(stderr, "Warning: Unable to draw the preview picture '%s': %s.\n", preview.c_str(), reason.c_str());
}

// Attach, fill, bless, detach and convert; the caller removes the sparse image afterwards.
bool BuildFromSparseImage(CBuildContext& context, CXmlTree* imageTree, std::string const& file,
                          std::string const& sparseImage, char const* volumeName, std::string const& openFolder,
                          CImageOptions const& options)
{
    CDiskImageEngine& engine = context.engine;
    std::string mountPoint, error;
    if (!engine.MakeMountPoint(&mountPoint, &error))
    {
        std::fprintf(stderr, "Error: %s.\n", error.c_str());
        return false;
    }

    bool ok = true;
    if (!PerformRequest(engine, CAttachRequest{sparseImage, mountPoint}))
    {
        std::fprintf(stderr, "Error: Unable to mount disk image \"%s\".\n", volumeName);
        return false;
    }

    ok = FillVolume(context, imageTree, mountPoint);
    if (options.icon && !ProcessVolumeIcon(engine, *options.icon, mountPoint))
        ok = false;
    if (ok && !options.preview.empty())
        WritePreview(engine, imageTree, mountPoint, options.preview);
    if (ok && !openFolder.empty() && !PerformRequest(engine, CBlessRequest{mountPoint + "/" + openFolder}))
    {
        std::fprintf(stderr, "Error: Unable to set '%s/%s' as the mount folder.\n", mountPoint.c_str(),
                     openFolder.c_str());
        ok = false;
    }

    if (!PerformRequest(engine, CDetachRequest{mountPoint, false}))
    {
        std::fprintf(stderr, "Error: Unable to detach disk image.\n");
        PerformRequest(engine, CDetachRequest{mountPoint, true});
        return false;
    }

    if (GetPendingInterrupt() != 0)
        ok = false;
    if (ok && options.autoSize && !PerformRequest(engine, CResizeRequest{sparseImage}))
    {
        std::fprintf(stderr, "Error: Unable to shrink the disk image to its content.\n");
        ok = false;
    }
    // The licence goes in with the convert where the engine can, so that the image never bears its
    // final name without its agreement.
    engine.SetLicence(options.licenseResources);
    if (ok && !PerformRequest(engine, CConvertRequest{sparseImage, options.format, file}))
    {
        std::fprintf(stderr, "Error: Error converting disk image to read only.\n");
        ok = false;
    }
    if (ok && !options.licenseResources.empty() && !engine.AddLicence(file, &error))
    {
        std::fprintf(stderr, "Error: Unable to add the license agreement to the image: %s.\n", error.c_str());
        unlink(file.c_str()); // an image without its agreement must not pass for a finished one
        ok = false;
    }
    if (ok && options.signature && !SignNewUdifImage(file, *options.signature, &error))
    {
        std::fprintf(stderr, "Error: Unable to sign the image: %s.\n", error.c_str());
        unlink(file.c_str()); // nor an image without the signature it was meant to have
        ok = false;
    }
    return ok;
}
// Refused before anything is copied: an output that could never be written.
bool CheckOutputPath(std::string const& file)
{
    if (file.empty())
    {
        std::fprintf(stderr, "Error: 'image' tag attribute 'file' is empty.\n");
        return false;
    }
    struct stat status;
    if (stat(file.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    {
        std::fprintf(stderr, "Error: The output '%s' is a folder.\n", file.c_str());
        return false;
    }
    return true;
}

// An output that would destroy what isn't an earlier build's output is refused before the stale
// output is removed: a source, the configuration, a device, a file of another format.
bool ClaimOutputs(std::string const& file, std::string const& preview, CRunFiles* run)
{
    std::string reason;
    if (ClaimOutputFile(file, EOutputFormat::DiskImage, "output", run, &reason) &&
        (preview.empty() || ClaimOutputFile(preview, EOutputFormat::PngPicture, "preview", run, &reason)))
        return true;
    std::fprintf(stderr, "Error: %s.\n", reason.c_str());
    return false;
}
} // namespace

bool ProcessImage(CDiskImageEngine& engine, CXmlTree* imageTree, char const* file, char const* volumeName,
                  char const* openFolder, int size, CRunFiles* run)
{
    // Read before any command runs, so that a warning about the value comes first.
    CBuildContext context{engine, ReadFinderRecordSet(GetTreeNode(imageTree))};
    CImageOptions options;
    if (!ReadImageOptions(imageTree, &options))
        return false;
    std::string openFolderText = openFolder ? openFolder : "";
    if (!IsContainedRelativePath(openFolderText))
    {
        std::fprintf(
            stderr,
            "Error: 'image' tag attribute 'open_folder' value '%s' is not a relative path inside the "
            "volume.\n",
            openFolderText.c_str());
        return false;
    }
    // The folder to open on mount lives in the HFS+ volume header's Finder info; an APFS volume has
    // no such place (and bless --openfolder has nothing to write it to).
    if (options.filesystem == "APFS" && !openFolderText.empty())
    {
        std::fprintf(stderr,
                     "Warning: 'image' tag attribute 'open_folder' ('%s') can't be kept on an APFS volume, which "
                     "has no place for the folder opened on mount; the image is built without it.\n",
                     openFolderText.c_str());
        openFolderText.clear();
    }

    // The volume icon is looked for first: a missing icon is a mistake to mend before building.
    if (options.icon && !CheckVolumeIcon(*options.icon))
        return false;

    // A path that begins with "-" must reach every command as a path, never as an option.
    std::string fileText = ProtectLeadingDash(file);
    if (!CheckOutputPath(fileText) || !ClaimOutputs(fileText, options.preview, run))
        return false;
    CBuildLock lock;
    if (!lock.Acquire(fileText))
        return false;
    std::string sparseImage = fileText + ".sparseimage";
    // Leftovers of an earlier run; there is usually nothing to remove.
    PerformRequest(engine, CRemoveRequest{fileText});
    PerformRequest(engine, CRemoveRequest{sparseImage});

    if (!PerformRequest(engine, CCreateRequest{volumeName, options.autoSize ? kAutoSizeMegabytes : size, sparseImage,
                                               options.filesystem}))
    {
        std::fprintf(stderr, "Error: Unable to create temporary sparse disk image '%s.sparseimage'.\n", file);
        return false;
    }

    bool ok = BuildFromSparseImage(context, imageTree, fileText, sparseImage, volumeName, openFolderText, options);
    if (run) // now that they exist, known by what they are too, so another spelling still matches
    {
        run->outputs.Add(fileText);
        if (!options.preview.empty())
            run->outputs.Add(options.preview);
    }

    if (!PerformRequest(engine, CRemoveRequest{sparseImage}))
    {
        std::fprintf(stderr, "Error:  Unable to remove sparse image.\n");
        return false;
    }
    return ok;
}
