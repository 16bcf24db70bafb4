#include "volume/HostTree.h"

#include "io/PortableFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

bool ListFolder(std::string const& path, std::vector<std::string>* names, std::string* error)
{
    DIR* dir = opendir(path.c_str());
    if (!dir)
    {
        *error = "cannot read the folder " + path + ": " + strerror(errno);
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
        *error = "cannot read the folder " + path + ": " + strerror(readError);
        return false;
    }
    // Byte order, so that the tree doesn't depend on the order the host file system lists names in.
    std::sort(names->begin(), names->end());
    return true;
}

bool ReadLinkTarget(std::string const& path, struct stat const& st, std::string* target, std::string* error)
{
    target->assign(size_t(st.st_size) + 1, '\0');
    for (;;)
    {
        ssize_t n = readlink(path.c_str(), &(*target)[0], target->size());
        if (n < 0)
        {
            *error = "cannot read the symbolic link " + path + ": " + strerror(errno);
            return false;
        }
        if (size_t(n) < target->size())
        {
            target->resize(size_t(n));
            return true;
        }
        target->resize(target->size() * 2); // the link grew since lstat
    }
}

// Describes one host item from lstat; folders get their children afterwards.
bool DescribeItem(std::string const& path, struct stat const& st, CVolumeItem* item, std::string* error,
                  char const* volumeDescription)
{
    item->modifiedTime = GetModificationTime(st);
    if (S_ISDIR(st.st_mode))
    {
        item->kind = EVolumeItemKind::Folder;
        item->mode = uint16_t(st.st_mode & 07777);
    }
    else if (S_ISREG(st.st_mode))
    {
        // Found unreadable now rather than halfway through writing the volume; asking costs one
        // system call where opening costs two, which counts with many small files.
        if (faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0)
        {
            *error = "cannot read " + path + ": " + strerror(errno);
            return false;
        }
        item->kind = EVolumeItemKind::File;
        item->mode = uint16_t(st.st_mode & 07777);
        item->size = uint64_t(st.st_size);
        item->data.sourceModifiedNanoseconds = GetModificationNanoseconds(st);
    }
    else if (S_ISLNK(st.st_mode))
    {
        item->kind = EVolumeItemKind::Symlink;
        item->mode = 0755;
        if (!ReadLinkTarget(path, st, &item->linkTarget, error))
            return false;
        item->size = item->linkTarget.size();
    }
    else
    {
        *error = std::string("cannot put ") + path + " on " + volumeDescription + ": it is " +
                 DescribeUnsupportedType(st.st_mode);
        return false;
    }
    return true;
}

// Adds the children of the host folder `path` to the tree's folder `folder`, folders depth first.
bool AddFolderContents(CVolumeTree* tree, size_t folder, std::string const& path, std::string* error,
                       char const* volumeDescription)
{
    std::vector<std::string> names;
    if (!ListFolder(path, &names, error))
        return false;
    for (std::string const& name : names)
    {
        std::string childPath = path + "/" + name;
        struct stat st;
        if (lstat(childPath.c_str(), &st) != 0)
        {
            *error = "cannot read " + childPath + ": " + strerror(errno);
            return false;
        }
        CVolumeItem item;
        item.name = name;
        item.sourceInFolder = true; // childPath is the folder's path and the name
        if (!DescribeItem(childPath, st, &item, error, volumeDescription))
            return false;
        size_t child = tree->Add(folder, std::move(item));
        if (tree->Get(child).kind == EVolumeItemKind::Folder &&
            !AddFolderContents(tree, child, childPath, error, volumeDescription))
            return false;
    }
    return true;
}
} // namespace

bool AddHostItem(CVolumeTree* tree, size_t parent, std::string const& name, std::string const& sourcePath,
                 size_t* added, std::string* error, char const* volumeDescription)
{
    struct stat st;
    if (lstat(sourcePath.c_str(), &st) != 0)
    {
        *error = "cannot read " + sourcePath + ": " + strerror(errno);
        return false;
    }
    CVolumeItem item;
    item.name = name;
    if (!DescribeItem(sourcePath, st, &item, error, volumeDescription))
        return false;
    if (item.kind != EVolumeItemKind::Symlink)
        item.data.sourcePath = sourcePath;
    size_t index = tree->Add(parent, std::move(item));
    if (tree->Get(index).kind == EVolumeItemKind::Folder &&
        !AddFolderContents(tree, index, sourcePath, error, volumeDescription))
    {
        tree->Detach(index);
        return false;
    }
    *added = index;
    return true;
}

bool ReadHostTree(std::string const& root, CVolumeTree* tree, std::string* error, char const* volumeDescription)
{
    if (root.empty())
        return true;
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
    tree->Get(CVolumeTree::kRoot).modifiedTime = GetModificationTime(st);
    tree->Get(CVolumeTree::kRoot).data.sourcePath = root; // what the root's contents were copied from
    size_t before = tree->Get(CVolumeTree::kRoot).children.size();
    if (AddFolderContents(tree, CVolumeTree::kRoot, root, error, volumeDescription))
        return true;
    // Nothing half listed stays behind.
    std::vector<size_t>& children = tree->Get(CVolumeTree::kRoot).children;
    while (children.size() > before)
        tree->Detach(children.back());
    return false;
}
