#include "image/MountPoint.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __APPLE__

bool MakeMountPoint(std::string* mountPoint)
{
    char buffer[64];
    std::strcpy(buffer, "/Volumes/mnt.XXXXXXXX");
    mktemp(buffer);
    *mountPoint = buffer;
    return true;
}

void RemoveMountPoint(std::string const&) {}

#else

namespace
{
std::string TemporaryDirectory()
{
    char const* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}
} // namespace

bool MakeMountPoint(std::string* mountPoint)
{
    // mkdtemp fills in only six characters; the name has eight, so draw them here and let mkdir
    // decide atomically whether the name is still free.
    static char const kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kLetters)) - 2);

    std::string directory = TemporaryDirectory();
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100 && lastError == EEXIST; ++attempt)
    {
        std::string candidate = directory + (directory == "/" ? "" : "/") + "mnt.";
        for (int i = 0; i < 8; ++i)
            candidate += kLetters[pick(generator)];
        if (mkdir(candidate.c_str(), 0700) == 0)
        {
            *mountPoint = candidate;
            return true;
        }
        lastError = errno;
    }
    std::fprintf(stderr, "Error: Unable to create a mount point in '%s' (%s).\n", directory.c_str(),
                 std::strerror(lastError));
    return false;
}

void RemoveMountPoint(std::string const& mountPoint)
{
    // rmdir refuses a folder that still holds anything, so a volume's contents are never touched.
    rmdir(mountPoint.c_str());
}

#endif
