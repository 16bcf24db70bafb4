// A fresh, unique place to mount the volume while it is being filled.
#pragma once

#include <string>

// On macOS a unique name "/Volumes/mnt.XXXXXXXX" (the attach creates the folder). Elsewhere an
// empty folder "mnt.XXXXXXXX" made under $TMPDIR (else /tmp). False after an error message.
bool MakeMountPoint(std::string* mountPoint);

// Removes the mount point folder if it is still there and empty; the detach normally removes it.
void RemoveMountPoint(std::string const& mountPoint);
