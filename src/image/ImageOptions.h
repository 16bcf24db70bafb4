// The image element's settings for the finished image: its format, automatic volume size and
// licence agreement.
#pragma once

#include "config/XmlTree.h"
#include "udif/UdifPlist.h"

#include <string>
#include <vector>

struct CImageOptions
{
    std::string format = "UDZO";                 // as hdiutil convert names it
    bool autoSize = false;                       // template_size="auto"
    std::vector<CUdifResource> licenseResources; // empty: no licence agreement
};

// True when the element's template_size is "auto" (in any letter case).
bool IsAutoTemplateSize(CXmlNode const* imageNode);

// Reads format, template_size="auto" and the license element, and reads and encodes the licence
// texts, so that every problem shows before the first command runs. Prints its errors.
bool ReadImageOptions(CXmlTree const* imageTree, CImageOptions* options);

// The convert command's text for the options' format.
std::string MakeConvertCommand(std::string const& sparseImage, std::string const& file,
                               CImageOptions const& options);
