// The disk-image tool operations as commands: which operation, and its words as hdiutil, bless,
// xattr and tiffutil take them. The echoed text and the in-process tools' arguments both come from
// these words.
#pragma once

#include "engine/CommandText.h"
#include "finder/FinderInfo.h"

#include <cstdint>
#include <string>
#include <vector>

enum class EToolOperation
{
    CreateSparseImage,
    AttachImage,
    DetachImage,
    ResizeImage,
    ConvertImage,
    BlessOpenFolder,
    SetFinderInfo,
    JoinRetinaPictures,
};

struct CToolCommand
{
    EToolOperation operation;
    std::vector<CCommandWord> words;

    std::string FormatText() const { return FormatCommandText(words); }
};

// hdiutil create -type SPARSE -fs HFS+ -volname "V" -size Nm "P" (-fs APFS for an APFS volume)
CToolCommand MakeCreateCommand(std::string const& volumeName, int sizeMegabytes,
                               std::string const& sparseImage, std::string const& filesystem = "HFS+");
// hdiutil attach "P" -noverify -noautoopen -mountpoint "M"
CToolCommand MakeAttachCommand(std::string const& sparseImage, std::string const& mountPoint);
// hdiutil detach "M" [-force]
CToolCommand MakeDetachCommand(std::string const& mountPoint, bool force);
// hdiutil resize -sectors min "P"
CToolCommand MakeResizeCommand(std::string const& sparseImage);
// hdiutil convert "P" -format F [-imagekey zlib-level=9] -o "F": only UDZO takes a compression level.
CToolCommand MakeConvertCommand(std::string const& sparseImage, std::string const& format,
                                std::string const& file);
// bless --openfolder "F"
CToolCommand MakeBlessCommand(std::string const& folder);
// xattr -s -x -w com.apple.FinderInfo HEX "P" (-s: a symbolic link itself, not its target)
CToolCommand MakeSetFinderInfoCommand(CFinderInfo const& info, std::string const& path);
// tiffutil -cathidpicheck "ONE" "TWO" -out "TIFF"
CToolCommand MakeJoinRetinaPicturesCommand(std::string const& single, std::string const& twice,
                                           std::string const& tiff);
