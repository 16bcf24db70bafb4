#include "sys/RemoveTree.h"

#include <filesystem>

namespace
{
void MakeFoldersWritable(std::filesystem::path const& root)
{
    namespace fs = std::filesystem;
    std::error_code failure;
    if (!fs::is_directory(fs::symlink_status(root, failure)))
        return;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, failure);
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, failure);
    for (; !failure && it != fs::recursive_directory_iterator(); it.increment(failure))
    {
        // The entry's type as the folder listing gave it: no lstat for each of many files.
        std::error_code ignored;
        if (!it->is_symlink(ignored) && it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
}
} // namespace

bool RemoveTreeForced(std::string const& path, std::string* error)
{
    MakeFoldersWritable(path);
    std::error_code failure;
    std::filesystem::remove_all(path, failure);
    if (failure)
        *error = "can't remove " + path + ": " + failure.message();
    return !failure;
}
