#include "engine/ToolCommands.h"

namespace
{
CCommandWord Literal(std::string text)
{
    return {CCommandWord::EForm::Literal, std::move(text)};
}

CCommandWord Quoted(std::string value)
{
    return {CCommandWord::EForm::Quoted, std::move(value)};
}

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
} // namespace

CToolCommand MakeCreateCommand(std::string const& volumeName, int sizeMegabytes,
                               std::string const& sparseImage, std::string const& filesystem)
{
    return {EToolOperation::CreateSparseImage,
            {Literal("hdiutil"), Literal("create"), Literal("-type"), Literal("SPARSE"), Literal("-fs"),
             Literal(filesystem), Literal("-volname"), Quoted(volumeName), Literal("-size"),
             Literal(std::to_string(sizeMegabytes) + "m"), Quoted(sparseImage)}};
}

CToolCommand MakeAttachCommand(std::string const& sparseImage, std::string const& mountPoint)
{
    return {EToolOperation::AttachImage,
            {Literal("hdiutil"), Literal("attach"), Quoted(sparseImage), Literal("-noverify"),
             Literal("-noautoopen"), Literal("-mountpoint"), Quoted(mountPoint)}};
}

CToolCommand MakeDetachCommand(std::string const& mountPoint, bool force)
{
    CToolCommand command{EToolOperation::DetachImage,
                         {Literal("hdiutil"), Literal("detach"), Quoted(mountPoint)}};
    if (force)
        command.words.push_back(Literal("-force"));
    return command;
}

CToolCommand MakeResizeCommand(std::string const& sparseImage)
{
    return {
        EToolOperation::ResizeImage,
        {Literal("hdiutil"), Literal("resize"), Literal("-sectors"), Literal("min"), Quoted(sparseImage)}};
}

CToolCommand MakeConvertCommand(std::string const& sparseImage, std::string const& format,
                                std::string const& file)
{
    CToolCommand command{
        EToolOperation::ConvertImage,
        {Literal("hdiutil"), Literal("convert"), Quoted(sparseImage), Literal("-format"), Literal(format)}};
    // Only UDZO takes a compression level; the other formats have no such key.
    if (format == "UDZO")
    {
        command.words.push_back(Literal("-imagekey"));
        command.words.push_back(Literal("zlib-level=9"));
    }
    command.words.push_back(Literal("-o"));
    command.words.push_back(Quoted(file));
    return command;
}

CToolCommand MakeBlessCommand(std::string const& folder)
{
    return {EToolOperation::BlessOpenFolder, {Literal("bless"), Literal("--openfolder"), Quoted(folder)}};
}

CToolCommand MakeSetFinderInfoCommand(CFinderInfo const& info, std::string const& path)
{
    return {EToolOperation::SetFinderInfo,
            {Literal("xattr"), Literal("-s"), Literal("-x"), Literal("-w"), Literal("com.apple.FinderInfo"),
             Literal(FormatHex(info)), Quoted(path)}};
}

CToolCommand MakeJoinRetinaPicturesCommand(std::string const& single, std::string const& twice,
                                           std::string const& tiff)
{
    return {EToolOperation::JoinRetinaPictures,
            {Literal("tiffutil"), Literal("-cathidpicheck"), Quoted(single), Quoted(twice), Literal("-out"),
             Quoted(tiff)}};
}
