// A PNG picture of a volume's root window as the Finder will show it, drawn at twice the
// configured size from the configuration and the files that are on the volume.
#pragma once

#include "config/XmlTree.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a path of the volume names, as the preview's reader answers.
enum class EVolumeEntry
{
    Missing, // nothing the preview may read: absent, unreadable, or reached through a link out of the volume
    File,
    Folder,
};

// Every file the preview reads comes through one of these. volumePath is the path from the
// volume's root ("/.background/background.png", "/Example.app/Contents/Info.plist"). For a file,
// its whole content goes into `bytes` unless `bytes` is null (only the kind is asked); for
// Missing, `error` says why. The files read are pictures, Info.plist files and .icns icons; a
// reader may refuse files larger than kLargestPreviewFile.
using CVolumeReader = std::function<EVolumeEntry(std::string const& volumePath, std::vector<uint8_t>* bytes,
                                                 std::string* error)>;

constexpr size_t kLargestPreviewFile = size_t(64) << 20;

// Draws the window of the `image` element whose volume `volume` reads into `pngPath`. False with
// a one-line reason when the picture can't be drawn or written.
bool DrawPreviewPicture(CXmlTree const* imageTree, CVolumeReader const& volume, std::string const& pngPath,
                        std::string* error);
