// Mount point names: "mnt." and eight letters or digits under a folder.
#pragma once

#include <string>

// "DIRECTORY/mnt." and eight letters or digits drawn at random.
std::string DrawMountPointName(std::string const& directory);
