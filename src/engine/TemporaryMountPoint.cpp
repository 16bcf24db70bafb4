#include "engine/TemporaryMountPoint.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string GetTemporaryDirectory()
{
    char const* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}
} // namespace

std::string DrawMountPointName(std::string const& directory)
{
    static char const kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kLetters)) - 2);
    std::string name = directory + (directory == "/" ? "" : "/") + "mnt.";
    for (int i = 0; i < 8; ++i)
        name += kLetters[pick(generator)];
    return name;
}

bool MakeTemporaryMountPoint(std::string* mountPoint, std::string* error)
{
    // mkdtemp fills in only six characters; the name has eight, so draw them here and let mkdir
    // decide atomically whether the name is still free.
    std::string directory = GetTemporaryDirectory();
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100 && lastError == EEXIST; ++attempt)
    {
        std::string candidate = DrawMountPointName(directory);
        if (mkdir(candidate.c_str(), 0700) == 0)
        {
            *mountPoint = candidate;
            return true;
        }
        lastError = errno;
    }
    *error = "Unable to create a mount point in '" + directory + "' (" + std::strerror(lastError) + ")";
    return false;
}

void RemoveTemporaryMountPoint(std::string const& mountPoint)
{
    // rmdir refuses a folder that still holds anything, so a volume's contents are never touched.
    rmdir(mountPoint.c_str());
}
