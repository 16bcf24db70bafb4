// The image element's settings beyond the volume's contents: its format, automatic volume size,
// licence agreement, volume icon, preview picture and code signature.
#pragma once

#include "config/XmlTree.h"
#include "signing/SigningIdentity.h"
#include "udif/ImageFormats.h"
#include "udif/UdifPlist.h"

#include <optional>
#include <string>
#include <vector>

struct CImageOptions
{
    CImageFormat const* format = &GetDefaultImageFormat();
    std::string filesystem = "HFS+";             // "HFS+" or "APFS", as hdiutil create names it
    bool autoSize = false;                       // template_size="auto"
    std::vector<CUdifResource> licenseResources; // empty: no licence agreement
    std::optional<std::string> icon;             // the .icns file of the volume's icon
    std::string preview;                         // the PNG picture to draw of the window; empty: none
    std::optional<CSigningSettings> signature;   // the signature element: sign the finished image
};

// True when the element's template_size is "auto" (in any letter case).
bool IsAutoTemplateSize(CXmlNode const* imageNode);

// Reads format, filesystem, template_size="auto", icon, preview and the license and signature
// elements, reads and encodes the licence texts and opens the signing identity, so that every problem
// shows before the first command runs. Prints its errors.
bool ReadImageOptions(CXmlTree const* imageTree, CImageOptions* options);
