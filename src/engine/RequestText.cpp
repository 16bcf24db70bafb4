// The command text of each request: what is echoed, and what the shell runs on macOS.
#include "engine/CommandText.h"
#include "engine/EngineRequests.h"

namespace
{
std::string FormatHex(CFinderInfo const& info)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string hex;
    for (uint8_t byte : info)
    {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

struct CFormatter
{
    std::string operator()(CRemoveRequest const& r) const { return "rm " + QuoteArgument(r.path); }
    std::string operator()(CCreateRequest const& r) const
    {
        return "hdiutil create -type SPARSE -fs " + r.filesystem + " -volname " + QuoteArgument(r.volumeName) + " -size " +
               std::to_string(r.sizeMegabytes) + "m " + QuoteArgument(r.sparseImage);
    }
    std::string operator()(CAttachRequest const& r) const
    {
        return "hdiutil attach " + QuoteArgument(r.sparseImage) + " -noverify -noautoopen -mountpoint " +
               QuoteArgument(r.mountPoint);
    }
    std::string operator()(CDetachRequest const& r) const
    {
        return "hdiutil detach " + QuoteArgument(r.mountPoint) + (r.force ? " -force" : "");
    }
    std::string operator()(CResizeRequest const& r) const
    {
        return "hdiutil resize -sectors min " + QuoteArgument(r.sparseImage);
    }
    std::string operator()(CConvertRequest const& r) const
    {
        std::string text = "hdiutil convert " + QuoteArgument(r.sparseImage) + " -format " + r.format->name;
        if (r.format->imageKey)
            text += std::string(" -imagekey ") + r.format->imageKey;
        return text + " -o " + QuoteArgument(r.file);
    }
    std::string operator()(CBlessRequest const& r) const { return "bless --openfolder " + QuoteArgument(r.folder); }
    std::string operator()(CFinderInfoRequest const& r) const
    {
        return "xattr -s -x -w com.apple.FinderInfo " + FormatHex(r.info) + " " + QuoteArgument(r.path);
    }
    std::string operator()(CRetinaJoinRequest const& r) const
    {
        return "tiffutil -cathidpicheck " + QuoteArgument(r.single) + " " + QuoteArgument(r.twice) + " -out " +
               QuoteArgument(r.tiff);
    }
    std::string operator()(CMakeFolderRequest const& r) const { return "mkdir " + QuotePathArgument(r.path); }
    std::string operator()(CCopyRequest const& r) const
    {
        // The volume icon's destination is always a path under the mount point, written as it is.
        return r.recursive ? "cp -r " + QuotePathArgument(r.source) + " " + QuotePathArgument(r.destination)
                           : "cp " + QuotePathArgument(r.source) + " " + QuoteArgument(r.destination);
    }
    std::string operator()(CLinkRequest const& r) const
    {
        std::string const endOfOptions = !r.target.empty() && r.target[0] == '-' ? "-- " : "";
        return "ln -s " + endOfOptions + QuoteArgument(r.target) + " " + QuotePathArgument(r.path);
    }
};
} // namespace

std::string FormatRequestText(CEngineRequest const& request)
{
    return std::visit(CFormatter{}, request);
}
