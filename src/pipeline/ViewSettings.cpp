// Writing a view's window, icon view and background records and the items' icon positions.
#include "pipeline/ViewSettings.h"

#include "config/XmlAccess.h"
#include "finder/ModernViewRecords.h"
#include "config/PathRules.h"
#include "pipeline/RetinaBackground.h"
#include "config/ViewAttributes.h"
#include "io/ByteOrder.h"
#include "engine/DiskImageTools.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
void PutCode(unsigned char* bytes, char const (&code)[5])
{
    std::memcpy(bytes, code, 4);
}

short LowSixteenBits(int number)
{
    return static_cast<short>(static_cast<std::uint16_t>(static_cast<unsigned int>(number)));
}

// Window rectangle with its toolbar flag, and the two icon records that always go with it.
void SetWindowRecords(CViewAttributes const& view, char const* viewName, CDesktopDatabase* database)
{
    if (!HasWindowAttributes(view))
        return;

    unsigned int left = static_cast<unsigned int>(view.x.value_or(0));
    unsigned int top = static_cast<unsigned int>(view.y.value_or(0));
    unsigned char window[16] = {};
    PutBe16(window + 0, top);
    PutBe16(window + 2, left);
    PutBe16(window + 4, top + static_cast<unsigned int>(view.height.value_or(0)));
    PutBe16(window + 6, left + static_cast<unsigned int>(view.width.value_or(0)));
    PutCode(window + 8, "icnv");
    window[13] = view.showToolbar.value_or(false) ? 1 : 0;
    database->SetBlob(viewName, MakeFourCharCode("fwi0"), sizeof(window), window);

    unsigned char const iconSpacing[8] = {};
    database->SetBlob(viewName, MakeFourCharCode("icsp"), sizeof(iconSpacing), iconSpacing);
    unsigned char const iconGridOptions[8] = {0, 0, 0, 0, 0, 0, 0, 4};
    database->SetBlob(viewName, MakeFourCharCode("icgo"), sizeof(iconGridOptions), iconGridOptions);
}

void SetIconViewRecords(CViewAttributes const& view, char const* viewName, CDesktopDatabase* database)
{
    if (!HasIconViewAttributes(view))
        return;

    unsigned char options[26] = {};
    PutCode(options + 0, "icv4");
    options[5] = static_cast<unsigned char>(static_cast<unsigned int>(view.iconSize.value_or(48)) & 0xFF);
    PutCode(options + 6, view.grid.value_or(false) ? "grid" : "none");
    PutCode(options + 10, HasLabelOnRight(view) ? "rght" : "botm");
    options[23] = 4;
    database->SetBlob(viewName, MakeFourCharCode("icvo"), sizeof(options), options);
    database->SetBool(viewName, MakeFourCharCode("ICVO"), true);
}

void SetLegacyViewRecords(CViewAttributes const& view, char const* viewName, CDesktopDatabase* database)
{
    SetWindowRecords(view, viewName, database);
    SetIconViewRecords(view, viewName, database);
    if (view.toolbarWidth)
        database->SetShort(viewName, MakeFourCharCode("fwsw"), LowSixteenBits(*view.toolbarWidth));
    if (view.fontSize)
        database->SetShort(viewName, MakeFourCharCode("icvt"), LowSixteenBits(*view.fontSize));
}

// The alias record of the background picture, relative to the folder it lies in.
bool MakeBackgroundAlias(std::string const& background, char const* containerPath,
                         std::vector<unsigned char>* aliasBytes)
{
    std::string picturePath = std::string(containerPath) + "/" + background;

    // The reasons are not shown: the messages below say what to mend in the configuration.
    std::string reason;
    CFileRef folderRef;
    if (!FSPathMakeRef(containerPath, &folderRef, nullptr, &reason))
    {
        std::fprintf(stderr, "Error: Unable to link to current path '%s'. This is odd.\n", containerPath);
        return false;
    }
    // A folder is no picture: it is refused as a missing one is.
    struct stat pictureStatus;
    bool const isFolder = stat(picturePath.c_str(), &pictureStatus) == 0 && S_ISDIR(pictureStatus.st_mode);
    CFileRef pictureRef;
    if (isFolder || !FSPathMakeRef(picturePath.c_str(), &pictureRef, nullptr, &reason))
    {
        std::fprintf(stderr,
                     "Error: Unable to link to image '%s'. Make sure the view line appears after the file "
                     "is copied to the image.\n",
                     picturePath.c_str());
        return false;
    }
    CAliasHandle alias;
    if (!GetDiskImageTools().FSNewAlias(&folderRef, pictureRef, &alias, &reason) || !alias)
    {
        std::fprintf(stderr,
                     "Error: Unable to create alias to image '%s'. Make sure the view line appears after the "
                     "file is copied to the image.\n",
                     picturePath.c_str());
        return false;
    }

    unsigned int aliasSize = GetAliasSize(alias);
    aliasBytes->assign(alias->bytes.begin(),
                       alias->bytes.begin() + std::min<size_t>(aliasSize, alias->bytes.size()));
    return true;
}

void SetBackgroundRecords(std::vector<unsigned char> const& aliasBytes, char const* viewName,
                          CDesktopDatabase* database)
{
    unsigned int aliasSize = static_cast<unsigned int>(aliasBytes.size());
    database->SetBlob(viewName, MakeFourCharCode("pict"), aliasSize, aliasBytes.data());
    unsigned char descriptor[12] = {};
    PutCode(descriptor + 0, "PctB");
    PutBe32(descriptor + 4, aliasSize);
    PutBe32(descriptor + 8, 0xB4);
    database->SetBlob(viewName, MakeFourCharCode("BKGD"), sizeof(descriptor), descriptor);
}

// The colour form of the background descriptor "BKGD":
//   0  4  "ClrB"
//   4  6  red, green, blue: 16-bit each, the 8-bit component repeated (0xAB -> 0xABAB)
//  10  2  0
void SetColorBackgroundRecord(CBackgroundColor const& color, char const* viewName, CDesktopDatabase* database)
{
    unsigned char descriptor[12] = {};
    PutCode(descriptor + 0, "ClrB");
    PutBe16(descriptor + 4, color.red * 0x101u);
    PutBe16(descriptor + 6, color.green * 0x101u);
    PutBe16(descriptor + 8, color.blue * 0x101u);
    database->SetBlob(viewName, MakeFourCharCode("BKGD"), sizeof(descriptor), descriptor);
}
} // namespace

bool ProcessView(CXmlTree* viewTree, char const* viewName, CDesktopDatabase* viewDatabase,
                 char const* containerPath, EFinderRecordSet recordSet)
{
    CXmlNode const* node = viewTree ? GetTreeNode(viewTree) : nullptr;
    std::string type;
    if (!GetNodeAttribute(node, "type", &type))
    {
        std::fprintf(stderr, "Error: Missing required type attribute in view tag.\n");
        return false;
    }
    if (type != "icon")
    {
        std::fprintf(stderr, "Error: Unknown view type '%s'.\n", type.c_str());
        return false;
    }
    // A background outside the folder is refused before anything is recorded, as a bad type is.
    std::string background;
    bool hasBackground = GetNodeAttribute(node, "background", &background);
    if (hasBackground && (background.empty() || !IsContainedRelativePath(background)))
    {
        std::fprintf(stderr,
                     "Error: 'view' tag attribute 'background' value '%s' is not a relative path inside the "
                     "folder.\n",
                     background.c_str());
        return false;
    }
    std::string colorText;
    CBackgroundColor color;
    bool hasColor = GetNodeAttribute(node, "background_color", &colorText);
    if (hasColor && !ParseBackgroundColor(colorText, &color))
    {
        std::fprintf(stderr,
                     "Error: 'view' tag attribute 'background_color' value '%s' is not a colour of the form "
                     "#RRGGBB.\n",
                     colorText.c_str());
        return false;
    }
    if (hasColor && hasBackground)
        std::fprintf(stderr,
                     "Warning: The view has both a background picture and a background colour; the colour "
                     "'%s' is not used.\n",
                     colorText.c_str());

    CViewAttributes view = ReadViewAttributes(node);
    if (hasColor && !hasBackground)
        view.backgroundColor = color;
    bool legacy = WritesLegacyRecords(recordSet);
    if (legacy)
        SetLegacyViewRecords(view, viewName, viewDatabase);
    if (legacy && view.backgroundColor)
        SetColorBackgroundRecord(*view.backgroundColor, viewName, viewDatabase);

    // The settings records are set before the background is tried and stay when it fails; the
    // property list records are then written without the picture.
    std::string picture;
    bool pictureMade = !hasBackground || ChooseBackgroundPicture(background, containerPath, &picture);
    std::vector<unsigned char> aliasBytes;
    bool hasAlias = hasBackground && MakeBackgroundAlias(picture, containerPath, &aliasBytes);
    if (hasAlias && legacy)
        SetBackgroundRecords(aliasBytes, viewName, viewDatabase);
    std::string error;
    if (WritesModernRecords(recordSet) &&
        !SetModernViewRecords(view, hasAlias ? &aliasBytes : nullptr, viewName, viewDatabase, &error))
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", error.c_str());
        return false;
    }
    return pictureMade && (!hasBackground || hasAlias);
}

bool ProcessItemView(CXmlTree* itemTree, CDesktopDatabase* database)
{
    CXmlNode const* node = itemTree ? GetTreeNode(itemTree) : nullptr;
    std::string name;
    // The item's own handler has already reported a missing or unusable name.
    if (!GetNodeAttribute(node, "name", &name) || !IsSingleComponentName(name))
        return false;

    int x = 0, y = 0;
    bool hasX = GetNodeAttribute(node, "x", &x);
    bool hasY = GetNodeAttribute(node, "y", &y);
    if (hasX || hasY)
    {
        unsigned char location[16] = {};
        PutBe32(location + 0, static_cast<unsigned int>(x));
        PutBe32(location + 4, static_cast<unsigned int>(y));
        std::memset(location + 8, 0xFF, 6);
        database->SetBlob(MakeRecordName(name).c_str(), MakeFourCharCode("Iloc"), sizeof(location), location);
    }
    return true;
}
