// The image element's settings beyond the volume's contents: its format, automatic volume size,
// licence agreement, volume icon and preview picture.
#pragma once

#include "config/XmlTree.h"
#include "udif/UdifPlist.h"

#include <optional>
#include <string>
#include <vector>

struct CImageOptions
{
    std::string format = "UDZO";                 // as hdiutil convert names it
    std::string filesystem = "HFS+";             // "HFS+" or "APFS", as hdiutil create names it
    bool autoSize = false;                       // template_size="auto"
    std::vector<CUdifResource> licenseResources; // empty: no licence agreement
    std::optional<std::string> icon;             // the .icns file of the volume's icon
    std::string preview;                         // the PNG picture to draw of the window; empty: none
};

// True when the element's template_size is "auto" (in any letter case).
bool IsAutoTemplateSize(CXmlNode const* imageNode);

// Reads format, filesystem, template_size="auto", icon, preview and the license element, and reads and encodes
// the licence texts, so that every problem shows before the first command runs. Prints its errors.
bool ReadImageOptions(CXmlTree const* imageTree, CImageOptions* options);
