// Reading the tree that goes into a volume with lstat, and giving its items their catalog IDs.
#include "hfsplus/HfsSourceTree.h"

#include "hfsplus/HfsNames.h"
#include "io/HfsConstants.h"
#include "io/MacTime.h"
#include "io/PortableFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>

namespace
{

char const* DescribeUnsupportedType(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe)";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    return "of an unknown file type";
}

std::string JoinPath(std::string const& a, std::string const& b)
{
    return a.empty() ? b : a + "/" + b;
}

bool ListFolder(std::string const& fullPath, std::vector<std::string>* names, std::string* error)
{
    DIR* dir = opendir(fullPath.c_str());
    if (!dir)
    {
        *error = "cannot read the folder " + fullPath + ": " + strerror(errno);
        return false;
    }
    errno = 0;
    while (dirent* entry = readdir(dir))
    {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names->push_back(entry->d_name);
        errno = 0;
    }
    int readError = errno;
    closedir(dir);
    if (readError)
    {
        *error = "cannot read the folder " + fullPath + ": " + strerror(readError);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

// Fills an item from lstat; a symlink's target is read here.
bool DescribeItem(std::string const& fullPath, struct stat const& st, CHfsItem* item, std::string* error)
{
    item->date = ConvertToMacTime(GetModificationTime(st));
    if (S_ISDIR(st.st_mode))
    {
        item->kind = EHfsItemKind::Folder;
        item->mode = uint16_t(S_IFDIR | (st.st_mode & 07777));
    }
    else if (S_ISREG(st.st_mode))
    {
        // Found unreadable now rather than halfway through writing the volume; asking costs one
        // system call where opening costs two, which counts with many small files.
        if (faccessat(AT_FDCWD, fullPath.c_str(), R_OK, AT_EACCESS) != 0)
        {
            *error = "cannot read " + fullPath + ": " + strerror(errno);
            return false;
        }
        item->kind = EHfsItemKind::File;
        item->mode = uint16_t(S_IFREG | (st.st_mode & 07777));
        item->size = uint64_t(st.st_size);
    }
    else if (S_ISLNK(st.st_mode))
    {
        item->kind = EHfsItemKind::Symlink;
        item->mode = uint16_t(S_IFLNK | 0755);
        std::string target(size_t(st.st_size) + 1, '\0');
        for (;;)
        {
            ssize_t n = readlink(fullPath.c_str(), &target[0], target.size());
            if (n < 0)
            {
                *error = "cannot read the symbolic link " + fullPath + ": " + strerror(errno);
                return false;
            }
            if (size_t(n) < target.size())
            {
                target.resize(size_t(n));
                break;
            }
            target.resize(target.size() * 2); // the link changed since lstat
        }
        item->linkTarget = target;
        item->size = target.size();
    }
    else
    {
        *error =
            "cannot put " + fullPath + " on an HFS+ volume: it is " + DescribeUnsupportedType(st.st_mode);
        return false;
    }
    return true;
}

} // namespace

bool ScanHfsSourceTree(std::string const& root, std::vector<CHfsItem>* items, std::string* error)
{
    items->clear();
    CHfsItem rootItem;
    rootItem.kind = EHfsItemKind::Folder;
    if (root.empty())
    {
        rootItem.mode = uint16_t(S_IFDIR | 0755);
        rootItem.date = ConvertToMacTime(time(nullptr));
        items->push_back(rootItem);
        return true;
    }
    struct stat st;
    if (stat(root.c_str(), &st) != 0)
    {
        *error = "cannot read " + root + ": " + strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode))
    {
        *error = root + " is not a folder";
        return false;
    }
    if (!DescribeItem(root, st, &rootItem, error))
        return false;
    rootItem.mode = uint16_t(S_IFDIR | 0755); // as a new volume's root, whatever the folder it came from
    items->push_back(rootItem);

    // Breadth first: each folder's children are appended when the folder is reached.
    for (size_t folder = 0; folder < items->size(); ++folder)
    {
        if ((*items)[folder].kind != EHfsItemKind::Folder)
            continue;
        std::string const folderPath = (*items)[folder].path;
        std::string const fullFolder = JoinPath(root, folderPath);
        std::vector<std::string> names;
        if (!ListFolder(fullFolder, &names, error))
            return false;
        for (std::string const& name : names)
        {
            CHfsItem item;
            item.path = JoinPath(folderPath, name);
            item.parent = folder;
            std::string fullPath = fullFolder + "/" + name;
            if (lstat(fullPath.c_str(), &st) != 0)
            {
                *error = "cannot read " + fullPath + ": " + strerror(errno);
                return false;
            }
            if (!DescribeItem(fullPath, st, &item, error))
                return false;
            std::string nameError;
            if (!ConvertNameToHfs(name, &item.name, &nameError))
            {
                *error = "cannot put " + fullPath + " on an HFS+ volume: " + nameError;
                return false;
            }
            items->push_back(std::move(item));
        }
        (*items)[folder].valence = uint32_t(names.size());
    }
    return true;
}

bool AssignHfsCatalogIds(std::vector<CHfsItem>* items, std::map<std::string, uint32_t> const& fixedIds,
                         uint32_t* nextId, std::string* error)
{
    std::map<std::string, size_t> byPath;
    for (size_t i = 0; i < items->size(); ++i)
        byPath[(*items)[i].path] = i;

    // Every promised ID stays reserved, even for a path that is gone, so that no other item takes it
    // and an alias to the missing item doesn't lead to a stranger.
    std::set<uint32_t> reserved;
    uint32_t highest = kHfsFirstUserId - 1;
    for (auto const& [path, id] : fixedIds)
    {
        if (path.empty())
        {
            if (id != kHfsRootFolderId)
            {
                *error = "the root folder's ID is 2, not " + std::to_string(id);
                return false;
            }
            continue;
        }
        if (id < kHfsFirstUserId)
        {
            *error =
                "the ID " + std::to_string(id) + " promised for " + path + " is reserved (IDs start at 16)";
            return false;
        }
        if (!reserved.insert(id).second)
        {
            *error = "the ID " + std::to_string(id) + " is promised to two items, one of them " + path;
            return false;
        }
        highest = std::max(highest, id);
    }

    for (CHfsItem& item : *items)
        item.id = 0;
    (*items)[0].id = kHfsRootFolderId;
    for (auto const& [path, id] : fixedIds)
    {
        auto found = byPath.find(path);
        if (!path.empty() && found != byPath.end())
            (*items)[found->second].id = id;
    }
    uint32_t fresh = kHfsFirstUserId;
    for (CHfsItem& item : *items)
    {
        if (item.id != 0)
            continue;
        while (reserved.count(fresh))
            ++fresh;
        if (fresh == UINT32_MAX)
        {
            *error = "too many items for one volume";
            return false;
        }
        item.id = fresh++;
        highest = std::max(highest, item.id);
    }
    *nextId = highest + 1;
    return true;
}
