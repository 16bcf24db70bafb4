#include "engine/TemporaryMountPoint.h"

#include <cstdlib>
#include <random>

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
