#include "pipeline/ImagePipeline.h"

#include "config/XmlAccess.h"
#include "pipeline/BuildLock.h"
#include "engine/CommandRunner.h"
#include "pipeline/ContainerContent.h"
#include "config/FinderRecordSet.h"
#include "config/ImageOptions.h"
#include "config/PathRules.h"
#include "preview/PreviewFolderReader.h"
#include "preview/PreviewPicture.h"
#include "pipeline/VolumeIcon.h"
#include "engine/DiskImageTools.h"
#include "sys/Interruption.h"
#include "udif/UdifResourceEditor.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The sparse image's size with template_size="auto", shrunk to its content before the convert: costs
// nothing while it is sparse, and its allocation bitmap (kept at this size) is 1 MB.
constexpr int kAutoSizeMegabytes = 32768;

// Fills the mounted volume; a desktop database that can't be written ends the walk like a failure.
bool FillVolume(CXmlTree* imageTree, std::string const& mountPoint, EFinderRecordSet recordSet)
{
    try
    {
        return ProcessContainer(imageTree, mountPoint.c_str(), nullptr, nullptr, recordSet);
    }
    catch (char const* message)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", message);
        return false;
    }
}

// The preview is drawn from the filled volume, before it is detached; one that can't be drawn
// leaves no file and doesn't fail the image.
void WritePreview(CXmlTree const* imageTree, std::string const& mountPoint, std::string const& preview)
{
    std::string reason;
    if (DrawPreviewPicture(imageTree, MakeFolderVolumeReader(mountPoint), preview, &reason))
        return;
    std::remove(preview.c_str());
    std::fprintf(stderr, "Warning: Unable to draw the preview picture '%s': %s.\n", preview.c_str(), reason.c_str());
}

// Attach, fill, bless, detach and convert; the caller removes the sparse image afterwards.
bool BuildFromSparseImage(CDiskImageTools& tools, CXmlTree* imageTree, std::string const& file,
                          std::string const& sparseImage, char const* volumeName,
                          std::string const& openFolder, EFinderRecordSet recordSet,
                          CImageOptions const& options, CBuildLock* lock)
{
    std::string mountPoint, error;
    if (!tools.MakeMountPoint(&mountPoint, &error))
    {
        std::fprintf(stderr, "Error: %s.\n", error.c_str());
        return false;
    }
    if (tools.IsMountPointStagingFolder())
        lock->RecordStagingFolder(mountPoint);

    bool ok = true;
    if (!RunToolCommand(MakeAttachCommand(sparseImage, mountPoint)))
    {
        std::fprintf(stderr, "Error: Unable to mount disk image \"%s\".\n", volumeName);
        tools.RemoveMountPoint(mountPoint);
        return false;
    }

    ok = FillVolume(imageTree, mountPoint, recordSet);
    if (options.icon && !ProcessVolumeIcon(*options.icon, mountPoint))
        ok = false;
    if (ok && !options.preview.empty())
        WritePreview(imageTree, mountPoint, options.preview);
    if (ok && !openFolder.empty() && !RunToolCommand(MakeBlessCommand(mountPoint + "/" + openFolder)))
    {
        std::fprintf(stderr, "Error: Unable to set '%s/%s' as the mount folder.\n", mountPoint.c_str(),
                     openFolder.c_str());
        ok = false;
    }

    if (!RunToolCommand(MakeDetachCommand(mountPoint, false)))
    {
        std::fprintf(stderr, "Error: Unable to detach disk image.\n");
        RunToolCommand(MakeDetachCommand(mountPoint, true));
        tools.RemoveMountPoint(mountPoint);
        return false;
    }
    tools.RemoveMountPoint(mountPoint);

    if (GetPendingInterrupt() != 0)
        ok = false;
    if (ok && options.autoSize && !RunToolCommand(MakeResizeCommand(sparseImage)))
    {
        std::fprintf(stderr, "Error: Unable to shrink the disk image to its content.\n");
        ok = false;
    }
    if (ok && !RunToolCommand(MakeConvertCommand(sparseImage, options.format, file)))
    {
        std::fprintf(stderr, "Error: Error converting disk image to read only.\n");
        ok = false;
    }
    if (ok && !options.licenseResources.empty() &&
        !AddResourcesToUdifImage(file, options.licenseResources, &error))
    {
        std::fprintf(stderr, "Error: Unable to add the license agreement to the image: %s.\n", error.c_str());
        unlink(file.c_str()); // an image without its agreement must not pass for a finished one
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
} // namespace

bool ProcessImage(CXmlTree* imageTree, char const* file, char const* volumeName, char const* openFolder,
                  int size)
{
    // Read before any command runs, so that a warning about the value comes first.
    EFinderRecordSet recordSet = ReadFinderRecordSet(GetTreeNode(imageTree));
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
    if (!CheckOutputPath(fileText))
        return false;
    CBuildLock lock;
    if (!lock.Acquire(fileText))
        return false;
    std::string sparseImage = fileText + ".sparseimage";
    // Leftovers of an earlier run; there is usually nothing to remove.
    RunCommand("rm " + QuoteArgument(fileText));
    RunCommand("rm " + QuoteArgument(sparseImage));

    // Fresh tools for each image: nothing one build attached is seen by the next.
    CDiskImageToolsScope tools;
    if (!RunToolCommand(
            MakeCreateCommand(volumeName, options.autoSize ? kAutoSizeMegabytes : size, sparseImage,
                              options.filesystem)))
    {
        std::fprintf(stderr, "Error: Unable to create temporary sparse disk image '%s.sparseimage'.\n", file);
        return false;
    }

    bool ok = BuildFromSparseImage(tools.Tools(), imageTree, fileText, sparseImage, volumeName,
                                   openFolderText, recordSet, options, &lock);

    if (!RunCommand("rm " + QuoteArgument(sparseImage)))
    {
        std::fprintf(stderr, "Error:  Unable to remove sparse image.\n");
        return false;
    }
    return ok;
}
