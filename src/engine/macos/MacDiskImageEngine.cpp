// macOS's own disk-image tools (hdiutil, bless, xattr, tiffutil) run through the shell, and alias
// records of items on the volumes they mount, built from what the file system reports: on HFS+ an
// item's inode number is its catalog node ID.
#include "io/ByteOrder.h"
#include "io/MacTime.h"
#include "finder/AliasRecord.h"
#include "engine/Engines.h"
#include "engine/HostVolumeFiles.h"
#include "engine/TemporaryMountPoint.h"
#include "sys/ShellRun.h"
#include "udif/UdifResourceEditor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/attr.h>
#include <sys/mount.h>
#include <sys/param.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace
{
constexpr char const kFinderInfoName[] = "com.apple.FinderInfo";

std::string ResolvePath(std::string const& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The folder the volume holding `path` is mounted on, resolved; empty when it can't be told.
std::string FindMountRoot(std::string const& path)
{
    struct statfs volume;
    return statfs(path.c_str(), &volume) == 0 ? ResolvePath(volume.f_mntonname) : std::string();
}

bool ReadVolumeName(std::string const& root, std::string* name)
{
    struct
    {
        uint32_t length;
        attrreference_t name;
        char text[NAME_MAX * 3 + 1];
    } __attribute__((aligned(4), packed)) reply;
    struct attrlist request;
    std::memset(&request, 0, sizeof request);
    request.bitmapcount = ATTR_BIT_MAP_COUNT;
    request.volattr = ATTR_VOL_INFO | ATTR_VOL_NAME;
    if (getattrlist(root.c_str(), &request, &reply, sizeof reply, 0) != 0)
        return false;
    *name = reinterpret_cast<char const*>(&reply.name) + reply.name.attr_dataoffset;
    return true;
}

class CMacDiskImageEngine : public CDiskImageEngine
{
public:
    // Each request's text is the command that does it.
    int Run(CEngineRequest const& request) override { return RunInShell(FormatRequestText(request)); }

    bool MakeMountPoint(std::string* mountPoint, std::string* error) override
    {
        // A name that is free now; hdiutil attach makes the folder and removes it at detach.
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            std::string candidate = DrawMountPointName("/Volumes");
            struct stat existing;
            if (lstat(candidate.c_str(), &existing) != 0 && errno == ENOENT)
            {
                *mountPoint = candidate;
                return true;
            }
        }
        *error = "Unable to find a free mount point name in '/Volumes'";
        return false;
    }

    void SetLicence(std::vector<CUdifResource> resources) override { m_licence = std::move(resources); }

    // hdiutil has already renamed its image into place; the agreement goes in afterwards.
    bool AddLicence(std::string const& file, std::string* error) override
    {
        return m_licence.empty() || AddResourcesToUdifImage(file, m_licence, error);
    }

    // An item reached through a link on the way (a folder of the volume that is a link) counts as no
    // file or folder of the volume: what kilnpack made there would land wherever the link leads.
    EVolumeEntry LookUp(std::string const& path) override
    {
        size_t const slash = path.rfind('/');
        std::string const parent = slash == std::string::npos ? "." : path.substr(0, slash);
        std::string const resolved = ResolvePath(parent);
        if (!resolved.empty() && resolved != parent)
            return EVolumeEntry::Other;
        return LookUpHostEntry(path);
    }

    bool ReadFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error) override
    {
        return ReadHostFile(path, bytes, error);
    }

    bool WriteFile(std::string const& path, std::vector<uint8_t> bytes, std::string* error) override
    {
        return WriteHostFile(path, bytes, error);
    }

    CFinderInfo ReadFinderInfo(std::string const& path) override
    {
        CFinderInfo info{};
        if (getxattr(path.c_str(), kFinderInfoName, info.data(), info.size(), 0, XATTR_NOFOLLOW) !=
            static_cast<ssize_t>(info.size()))
            info.fill(0);
        return info;
    }

    bool MakeAlias(std::string const& fromFolder, std::string const& targetName, CAliasHandle* alias,
                   std::string* error) override
    {
        struct stat info;
        std::string const targetPath = ResolvePath(targetName);
        if (targetPath.empty() || stat(targetPath.c_str(), &info) != 0)
        {
            *error = targetName + ": " + std::strerror(errno);
            return false;
        }
        std::string const root = FindMountRoot(targetPath);
        std::string const rootPrefix = root == "/" ? root : root + "/";
        if (root.empty() || targetPath.size() <= rootPrefix.size() ||
            targetPath.compare(0, rootPrefix.size(), rootPrefix) != 0)
        {
            *error = targetName + " is not an item on a mounted volume";
            return false;
        }
        if (FindMountRoot(fromFolder) != root)
        {
            *error = fromFolder + " is not on the volume of " + targetName;
            return false;
        }
        struct stat rootInfo;
        CAliasFacts facts;
        if (stat(root.c_str(), &rootInfo) != 0 || !ReadVolumeName(root, &facts.volumeName))
        {
            *error = root + ": " + std::strerror(errno);
            return false;
        }
        // The volume header keeps its creation date in local time, the root folder the same moment
        // in GMT.
        facts.volumeCreateDateGmt = ConvertToMacTime(rootInfo.st_birthtimespec.tv_sec);
        facts.volumeCreateDate = ConvertGmtMacTimeToLocal(facts.volumeCreateDateGmt);
        std::string const relativePath = targetPath.substr(rootPrefix.size());
        facts.pathNames = SplitRelativePath(relativePath);
        std::string folder = root;
        for (size_t i = 0; i + 1 < facts.pathNames.size(); ++i)
        {
            folder += (folder == "/" ? "" : "/") + facts.pathNames[i];
            struct stat folderInfo;
            if (stat(folder.c_str(), &folderInfo) != 0)
            {
                *error = folder + ": " + std::strerror(errno);
                return false;
            }
            facts.folderIds.push_back(static_cast<uint32_t>(folderInfo.st_ino));
        }
        facts.targetIsFolder = S_ISDIR(info.st_mode);
        facts.targetId = static_cast<uint32_t>(info.st_ino);
        facts.targetCreateDate = ConvertToMacTime(info.st_birthtimespec.tv_sec);
        facts.targetCreateDateLocal = ConvertGmtMacTimeToLocal(facts.targetCreateDate);
        if (!facts.targetIsFolder)
        {
            CFinderInfo const finderInfo = ReadFinderInfo(targetPath);
            facts.fileType = GetBe32(finderInfo.data());
            facts.fileCreator = GetBe32(finderInfo.data() + 4);
        }
        std::vector<uint8_t> bytes = BuildAliasRecord(facts);
        if (bytes.empty())
        {
            *error = "the alias record of " + targetName + " would exceed 64 KiB";
            return false;
        }
        *alias = std::make_unique<CAliasRecord>();
        (*alias)->bytes.assign(bytes.begin(), bytes.end());
        return true;
    }

private:
    std::vector<CUdifResource> m_licence;
};
} // namespace

std::unique_ptr<CDiskImageEngine> MakeSystemDiskImageEngine()
{
    return std::make_unique<CMacDiskImageEngine>();
}
