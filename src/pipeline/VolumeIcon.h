// The volume's own icon: an .icns file copied to the root as .VolumeIcon.icns, with the root
// folder's custom-icon flag set so that the Finder shows it for the mounted volume.
#pragma once

#include <string>

// Checks, before anything is built, that the icon file can be read; warns when it is not an .icns
// file. Prints an error and returns false when it can't be read.
bool CheckVolumeIcon(std::string const& icon);

// Copies the icon into the volume mounted at `mountPoint` and flags the root folder.
bool ProcessVolumeIcon(std::string const& icon, std::string const& mountPoint);
