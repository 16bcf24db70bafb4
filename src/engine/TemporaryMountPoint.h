// The in-process tools' mount point: an empty folder of a unique name under $TMPDIR.
#pragma once

#include <string>

// "DIRECTORY/mnt." and eight letters or digits drawn at random.
std::string DrawMountPointName(std::string const& directory);

// Makes the empty folder "mnt.XXXXXXXX" under $TMPDIR (else /tmp); false with a reason.
bool MakeTemporaryMountPoint(std::string* mountPoint, std::string* error);

// Removes the folder if it is still there and empty.
void RemoveTemporaryMountPoint(std::string const& mountPoint);
