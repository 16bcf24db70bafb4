// The builtin engine's work on the items of the attached volume, all in its tree: folders, copies
// (which record their sources), links, Finder info, the open folder, the retina background, files
// kilnpack writes itself, and alias records naming the IDs the volume will give.
#include "engine/builtin/BuiltinEngine.h"

#include "engine/HostVolumeFiles.h"
#include "finder/AliasRecord.h"
#include "io/ByteOrder.h"
#include "io/HfsConstants.h"
#include "io/MacTime.h"
#include "picture/PngPicture.h"
#include "picture/RetinaTiff.h"
#include "volume/HostTree.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace
{
// The Finder's dates of an item kilnpack makes itself: now (the volume writer puts the fixed date
// instead under SOURCE_DATE_EPOCH).
CVolumeItem MakeItem(EVolumeItemKind kind, std::string const& name, uint16_t mode)
{
    CVolumeItem item;
    item.kind = kind;
    item.name = name;
    item.mode = mode;
    item.modifiedTime = std::time(nullptr);
    return item;
}

EVolumeEntry EntryOf(CVolumeItem const& item)
{
    switch (item.kind)
    {
    case EVolumeItemKind::Folder:
        return EVolumeEntry::Folder;
    case EVolumeItemKind::File:
        return EVolumeEntry::File;
    case EVolumeItemKind::Symlink:
        return EVolumeEntry::Link;
    }
    return EVolumeEntry::Other;
}

// What cp says when it can't copy; the host tree's reason otherwise.
void ReportCopyFailure(std::string const& source, std::string const& reason)
{
    struct stat info;
    if (lstat(source.c_str(), &info) != 0)
        std::fprintf(stderr, "cp: cannot stat '%s': %s\n", source.c_str(), std::strerror(errno));
    else
        std::fprintf(stderr, "cp: %s\n", reason.c_str());
}

int ReportTiffutilFailure(std::string const& reason)
{
    std::fprintf(stderr, "tiffutil: %s\n", reason.c_str());
    return 1;
}
} // namespace

bool CBuiltinEngine::ToVolumePath(std::string const& path, std::string* relative) const
{
    if (!m_volume)
        return false;
    std::string const& root = m_volume->mountPoint;
    if (path == root)
    {
        relative->clear();
        return true;
    }
    if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0 || path[root.size()] != '/')
        return false;
    *relative = path.substr(root.size() + 1);
    return true;
}

size_t CBuiltinEngine::FindItem(std::string const& path) const
{
    std::string relative;
    return ToVolumePath(path, &relative) ? m_volume->tree.FindPath(relative) : CVolumeTree::kNone;
}

bool CBuiltinEngine::FindNewItemPlace(std::string const& path, size_t* parent, std::string* name,
                                      std::string* error) const
{
    std::string relative;
    size_t const slash = path.rfind('/');
    if (!ToVolumePath(path, &relative) || relative.empty() || slash == std::string::npos)
    {
        *error = "'" + path + "': not on the attached volume";
        return false;
    }
    *name = path.substr(slash + 1);
    *parent = FindItem(path.substr(0, slash));
    if (*parent == CVolumeTree::kNone || m_volume->tree.Get(*parent).kind != EVolumeItemKind::Folder)
    {
        *error = "'" + path + "': No such file or directory";
        return false;
    }
    if (m_volume->tree.FindChild(*parent, *name) != CVolumeTree::kNone)
    {
        *error = "'" + path + "': File exists";
        return false;
    }
    return true;
}

uint32_t CBuiltinEngine::PromiseCatalogId(std::string const& relativePath)
{
    if (relativePath.empty())
        return kHfsRootFolderId;
    auto found = m_volume->promisedIds.find(relativePath);
    if (found != m_volume->promisedIds.end())
        return found->second;
    uint32_t id = m_volume->nextCatalogId++;
    m_volume->promisedIds[relativePath] = id;
    return id;
}

int CBuiltinEngine::Handle(CMakeFolderRequest const& request)
{
    size_t parent = 0;
    std::string name, error;
    if (!FindNewItemPlace(request.path, &parent, &name, &error))
    {
        std::fprintf(stderr, "mkdir: cannot create directory %s\n", error.c_str());
        return 1;
    }
    // Folders kilnpack makes have the mode a folder has on every Mac, whatever the umask.
    m_volume->tree.Add(parent, MakeItem(EVolumeItemKind::Folder, name, 0755));
    return 0;
}

int CBuiltinEngine::Handle(CCopyRequest const& request)
{
    size_t parent = 0;
    std::string name, error;
    if (!FindNewItemPlace(request.destination, &parent, &name, &error))
    {
        std::fprintf(stderr, "cp: cannot create %s\n", error.c_str());
        return 1;
    }
    // A single-file copy (no -r) follows a link it is given, as cp does; cp -r copies the link.
    std::string source = request.source;
    char resolved[PATH_MAX];
    if (!request.recursive && realpath(request.source.c_str(), resolved) != nullptr)
        source = resolved;
    size_t added = 0;
    if (AddHostItem(&m_volume->tree, parent, name, source, &added, &error,
                    m_volume->apfs ? "an APFS volume" : "an HFS+ volume"))
        return 0;
    // An item no volume can hold (a FIFO, a socket, a device), in a copied folder or copied itself: cp
    // would copy it, and writing the volume refuses it at the detach, naming it on the volume. An
    // empty item stands for the copy, so that later steps find it.
    std::string const refusal = "cannot put " + request.source;
    struct stat info;
    if (error.compare(0, refusal.size(), refusal) == 0 && error.size() > refusal.size() &&
        (error[refusal.size()] == '/' || error[refusal.size()] == ' ') && lstat(request.source.c_str(), &info) == 0)
    {
        if (m_volume->detachFailure.empty())
            m_volume->detachFailure = "cannot put " + request.destination + error.substr(refusal.size());
        bool const isFolder = S_ISDIR(info.st_mode);
        m_volume->tree.Add(parent, MakeItem(isFolder ? EVolumeItemKind::Folder : EVolumeItemKind::File, name,
                                            uint16_t(info.st_mode & 07777)));
        return 0;
    }
    ReportCopyFailure(request.source, error);
    return 1;
}

int CBuiltinEngine::Handle(CLinkRequest const& request)
{
    size_t parent = 0;
    std::string name, error;
    if (!FindNewItemPlace(request.path, &parent, &name, &error))
    {
        std::fprintf(stderr, "ln: failed to create symbolic link %s\n", error.c_str());
        return 1;
    }
    CVolumeItem link = MakeItem(EVolumeItemKind::Symlink, name, 0755);
    link.linkTarget = request.target;
    link.size = request.target.size();
    m_volume->tree.Add(parent, std::move(link));
    return 0;
}

int CBuiltinEngine::Handle(CBlessRequest const& request)
{
    std::string relative;
    size_t const folder = FindItem(request.folder);
    if (folder == CVolumeTree::kNone || !ToVolumePath(request.folder, &relative))
    {
        std::fprintf(stderr, "bless: can't use '%s' as the open folder: No such file or directory\n",
                     request.folder.c_str());
        return 1;
    }
    if (m_volume->tree.Get(folder).kind != EVolumeItemKind::Folder)
    {
        std::fprintf(stderr, "bless: can't use '%s' as the open folder: not a folder\n", request.folder.c_str());
        return 1;
    }
    m_volume->openFolderId = PromiseCatalogId(m_volume->tree.GetPath(folder));
    return 0;
}

int CBuiltinEngine::Handle(CFinderInfoRequest const& request)
{
    size_t const item = FindItem(request.path);
    if (item == CVolumeTree::kNone)
    {
        std::fprintf(stderr, "xattr: %s: No such file or directory\n", request.path.c_str());
        return 1;
    }
    // The volume keeps the flags word of the Finder info, the one part kilnpack sets.
    m_volume->tree.Get(item).finderFlags = GetBe16(&request.info[kFinderFlagsAt]);
    return 0;
}

int CBuiltinEngine::Handle(CRetinaJoinRequest const& request)
{
    std::vector<uint8_t> singleBytes, twiceBytes, tiff;
    std::string error;
    CPngPicture single, twice;
    if (!ReadFile(request.single, &singleBytes, &error) || !ReadFile(request.twice, &twiceBytes, &error) ||
        !ReadPngPicture(singleBytes, request.single, &single, &error) ||
        !ReadPngPicture(twiceBytes, request.twice, &twice, &error))
        return ReportTiffutilFailure(error);
    if (uint64_t(twice.width) != 2 * uint64_t(single.width) || uint64_t(twice.height) != 2 * uint64_t(single.height))
        return ReportTiffutilFailure(request.twice + " is not twice the size of " + request.single);
    if (!BuildRetinaTiff(single, twice, &tiff, &error) || !WriteFile(request.tiff, std::move(tiff), &error))
        return ReportTiffutilFailure(error);
    return 0;
}

EVolumeEntry CBuiltinEngine::LookUp(std::string const& path)
{
    size_t const item = FindItem(path);
    return item == CVolumeTree::kNone ? EVolumeEntry::None : EntryOf(m_volume->tree.Get(item));
}

bool CBuiltinEngine::ReadFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error)
{
    size_t const item = FindItem(path);
    if (item == CVolumeTree::kNone || m_volume->tree.Get(item).kind != EVolumeItemKind::File)
    {
        *error = path + ": " + (item == CVolumeTree::kNone ? "No such file or directory" : "not a file");
        return false;
    }
    CVolumeFileData const& data = m_volume->tree.Get(item).data;
    if (data.bytes)
    {
        *bytes = *data.bytes;
        return true;
    }
    return ReadHostFile(m_volume->tree.GetSourcePath(item), bytes, error);
}

bool CBuiltinEngine::WriteFile(std::string const& path, std::vector<uint8_t> bytes, std::string* error)
{
    if (!m_volume)
    {
        *error = path + ": no volume is attached";
        return false;
    }
    CVolumeTree& tree = m_volume->tree;
    size_t const existing = FindItem(path);
    if (existing != CVolumeTree::kNone)
    {
        if (tree.Get(existing).kind == EVolumeItemKind::Folder)
        {
            *error = path + ": another item of this name is in the way";
            return false;
        }
        tree.Detach(existing);
    }
    size_t parent = 0;
    std::string name;
    if (!FindNewItemPlace(path, &parent, &name, error))
        return false;
    CVolumeItem file = MakeItem(EVolumeItemKind::File, name, 0644);
    file.size = bytes.size();
    file.data.bytes = std::make_shared<std::vector<uint8_t> const>(std::move(bytes));
    tree.Add(parent, std::move(file));
    return true;
}

CFinderInfo CBuiltinEngine::ReadFinderInfo(std::string const& path)
{
    CFinderInfo info{};
    size_t const item = FindItem(path);
    if (item != CVolumeTree::kNone)
        PutBe16(&info[kFinderFlagsAt], m_volume->tree.Get(item).finderFlags);
    return info;
}

bool CBuiltinEngine::MakeAlias(std::string const& fromFolder, std::string const& target, CAliasHandle* alias,
                               std::string* error)
{
    size_t const item = FindItem(target);
    if (item == CVolumeTree::kNone)
    {
        *error = target + ": No such file or directory";
        return false;
    }
    std::string const relativePath = m_volume->tree.GetPath(item);
    if (relativePath.empty())
    {
        *error = target + " is the volume itself; only items on it are aliased here";
        return false;
    }
    if (FindItem(fromFolder) == CVolumeTree::kNone)
    {
        // A relative path only exists between items of one volume.
        *error = fromFolder + " is not on the volume of " + target;
        return false;
    }

    // In a reproducible build every date is the one fixed date, in whatever time zone.
    uint32_t const fixedDate = GetReproducibleMacTime();
    CVolumeItem const& targetItem = m_volume->tree.Get(item);
    CAliasFacts facts;
    facts.targetIsFolder = targetItem.kind == EVolumeItemKind::Folder;
    facts.volumeName = m_volume->volumeName;
    facts.volumeCreateDate = m_volume->createDate;
    facts.volumeCreateDateGmt = fixedDate ? fixedDate : ConvertLocalMacTimeToGmt(m_volume->createDate);
    facts.pathNames = SplitRelativePath(relativePath);
    std::string prefix;
    for (size_t i = 0; i + 1 < facts.pathNames.size(); ++i)
    {
        prefix += (i == 0 ? "" : "/") + facts.pathNames[i];
        facts.folderIds.push_back(PromiseCatalogId(prefix));
    }
    facts.targetId = PromiseCatalogId(relativePath);
    facts.targetCreateDate = fixedDate ? fixedDate : ConvertToMacTime(targetItem.modifiedTime);
    facts.targetCreateDateLocal = fixedDate ? fixedDate : ConvertGmtMacTimeToLocal(facts.targetCreateDate);
    // Like the Finder's aliases of background pictures, the record names no relative path
    // (levels -1/-1): the folder it is relative to only has to be on the same volume.
    std::vector<uint8_t> bytes = BuildAliasRecord(facts);
    if (bytes.empty())
    {
        *error = "the alias record of " + target + " would exceed 64 KiB";
        return false;
    }
    *alias = std::make_unique<CAliasRecord>();
    (*alias)->bytes.assign(bytes.begin(), bytes.end());
    return true;
}
