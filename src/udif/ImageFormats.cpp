#include "udif/ImageFormats.h"

#include <strings.h>

namespace
{
// zlib's strongest level, as the image has always asked hdiutil for; the codec picks the libdeflate
// level that matches it.
CImageFormat const kFormats[] = {{"UDZO", EUdifFormat::Udzo, "zlib-level=9", 9},
                                 {"UDBZ", EUdifFormat::Udbz, nullptr, 0},
                                 {"ULMO", EUdifFormat::Ulmo, nullptr, 0},
                                 {"UDRO", EUdifFormat::Udro, nullptr, 0}};
} // namespace

CImageFormat const* FindImageFormat(std::string const& name)
{
    for (CImageFormat const& format : kFormats)
    {
        if (strcasecmp(name.c_str(), format.name) == 0)
            return &format;
    }
    return nullptr;
}

CImageFormat const& GetDefaultImageFormat()
{
    return kFormats[0];
}
