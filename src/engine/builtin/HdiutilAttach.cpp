// hdiutil attach P -noverify -noautoopen -mountpoint M: M becomes the live folder of P's volume.
// The volume starts empty, so only volumes that hold nothing yet can be attached.
#include "engine/builtin/AttachedVolumes.h"
#include "engine/builtin/CreatedDisk.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Makes M or checks that it is an empty folder; false with a reason.
bool PrepareMountPoint(std::string const& path, bool* created, std::string* error)
{
    *created = false;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
    {
        if (errno != ENOENT)
        {
            *error = path + ": " + std::strerror(errno);
            return false;
        }
        if (mkdir(path.c_str(), 0755) != 0)
        {
            *error = "can't make the mount point " + path + ": " + std::strerror(errno);
            return false;
        }
        *created = true;
        return true;
    }
    if (!S_ISDIR(info.st_mode))
    {
        *error = "the mount point " + path + " is not a folder";
        return false;
    }
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr)
    {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool empty = true;
    while (dirent* entry = readdir(folder))
    {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        {
            empty = false;
            break;
        }
    }
    closedir(folder);
    if (!empty)
        *error = "the mount point " + path + " is not empty";
    return empty;
}
} // namespace

int RunHdiutilAttach(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 2, {"-mountpoint"}, {"-noverify", "-noautoopen"}, &arguments, &error))
        return ReportHdiutilFailure("attach", error);
    if (arguments.operands.size() != 1)
        return ReportHdiutilFailure("attach", "expected one image path, got " +
                                                  std::to_string(arguments.operands.size()));
    if (!arguments.Has("-mountpoint"))
        return ReportHdiutilFailure("attach", "no mount point given (-mountpoint)");
    std::string const& imagePath = arguments.operands[0];
    std::string mountPoint = arguments.Value("-mountpoint");

    if (volumes->FindByImage(imagePath) != nullptr)
        return ReportHdiutilFailure("attach", imagePath + " is already attached");
    CCreatedDisk disk;
    if (!OpenCreatedDisk(imagePath, O_RDONLY, &disk, &error))
        return ReportHdiutilFailure("attach", imagePath + ": " + error);
    CloseCreatedDisk(&disk, &error);
    // The live folder starts empty; attaching a volume that holds files would lose them on detach.
    if (disk.fileCount != 0 || disk.folderCount != 0)
        return ReportHdiutilFailure("attach", imagePath + ": the volume already holds files; only a freshly "
                                                          "created volume can be attached here");

    bool created = false;
    if (!PrepareMountPoint(mountPoint, &created, &error))
        return ReportHdiutilFailure("attach", error);
    // A volume inside another one's live folder would end up written into both.
    std::string insidePath;
    if (volumes->FindHolding(mountPoint, &insidePath) != nullptr)
    {
        if (created)
            rmdir(mountPoint.c_str());
        return ReportHdiutilFailure("attach",
                                    "the mount point " + mountPoint + " lies inside an attached volume");
    }

    CAttachedVolume volume;
    volume.imagePath = CanonicalPath(imagePath);
    volume.mountPoint = CanonicalPath(mountPoint);
    volume.volumeName = disk.volume.volumeName;
    volume.createDate = disk.volume.createDate;
    volume.partitionOffset = disk.PartitionOffset();
    volume.partitionSize = disk.PartitionSize();
    volume.apfs = disk.apfs;
    volumes->Add(volume);
    std::printf("attached: %s at %s\n", imagePath.c_str(), mountPoint.c_str());
    return 0;
}
