// What the pipeline asks a disk-image engine to do, one typed request per operation, and the one
// text of each as it is echoed ("Running Command: ...") and, by the macOS engine, run in the shell.
// The builtin engine works from the fields alone.
#pragma once

#include "finder/FinderInfo.h"
#include "udif/ImageFormats.h"

#include <string>
#include <variant>

// rm "P": a file outside the volume (a stale output or the sparse image).
struct CRemoveRequest
{
    std::string path;
};

// hdiutil create -type SPARSE -fs HFS+|APFS -volname "V" -size Nm "P"
struct CCreateRequest
{
    std::string volumeName;
    int sizeMegabytes = 0;
    std::string sparseImage;
    std::string filesystem = "HFS+"; // or "APFS", as hdiutil names them
};

// hdiutil attach "P" -noverify -noautoopen -mountpoint "M"
struct CAttachRequest
{
    std::string sparseImage;
    std::string mountPoint;
};

// hdiutil detach "M" [-force]
struct CDetachRequest
{
    std::string mountPoint;
    bool force = false;
};

// hdiutil resize -sectors min "P"
struct CResizeRequest
{
    std::string sparseImage;
};

// hdiutil convert "P" -format F [-imagekey K] -o "F"
struct CConvertRequest
{
    std::string sparseImage;
    CImageFormat const* format = nullptr;
    std::string file;
};

// bless --openfolder "F"
struct CBlessRequest
{
    std::string folder;
};

// xattr -s -x -w com.apple.FinderInfo HEX "P": the item's whole Finder info (-s: a symbolic link
// itself, not its target).
struct CFinderInfoRequest
{
    CFinderInfo info{};
    std::string path;
};

// tiffutil -cathidpicheck "ONE" "TWO" -out "TIFF"
struct CRetinaJoinRequest
{
    std::string single;
    std::string twice;
    std::string tiff;
};

// mkdir "P"
struct CMakeFolderRequest
{
    std::string path;
};

// cp -r "S" "D" (a file or folder with everything in it), or cp "S" "D" for a single file that
// kilnpack places itself (the volume icon).
struct CCopyRequest
{
    std::string source;
    std::string destination;
    bool recursive = true;
};

// ln -s "T" "P" (with -- first when T begins with "-": the link's text stays exactly as given).
struct CLinkRequest
{
    std::string target;
    std::string path;
};

using CEngineRequest =
    std::variant<CRemoveRequest, CCreateRequest, CAttachRequest, CDetachRequest, CResizeRequest, CConvertRequest,
                 CBlessRequest, CFinderInfoRequest, CRetinaJoinRequest, CMakeFolderRequest, CCopyRequest,
                 CLinkRequest>;

// The request's command text.
std::string FormatRequestText(CEngineRequest const& request);
