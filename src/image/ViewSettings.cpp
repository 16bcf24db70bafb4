#include "image/ViewSettings.h"

#include "config/XmlAccess.h"
#include "image/PathRules.h"
#include "platform/AliasManager.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

namespace
{
// Numbers inside record blobs are big-endian; 16-bit fields keep the low 16 bits of the value.
void PutInt16(unsigned char* bytes, unsigned int number)
{
    bytes[0] = static_cast<unsigned char>(number >> 8);
    bytes[1] = static_cast<unsigned char>(number);
}

void PutInt32(unsigned char* bytes, unsigned int number)
{
    bytes[0] = static_cast<unsigned char>(number >> 24);
    bytes[1] = static_cast<unsigned char>(number >> 16);
    bytes[2] = static_cast<unsigned char>(number >> 8);
    bytes[3] = static_cast<unsigned char>(number);
}

void PutCode(unsigned char* bytes, char const (&code)[5])
{
    std::memcpy(bytes, code, 4);
}

short LowSixteenBits(int number)
{
    return static_cast<short>(static_cast<std::uint16_t>(static_cast<unsigned int>(number)));
}

// Window rectangle with its toolbar flag, and the two icon records that always go with it.
void SetWindowRecords(CXmlNode const* node, char const* viewName, CDesktopDatabase* database)
{
    int x = 0, y = 0, width = 0, height = 0;
    bool showToolbar = false;
    bool hasX = GetNodeAttribute(node, "x", &x);
    bool hasY = GetNodeAttribute(node, "y", &y);
    bool hasWidth = GetNodeAttribute(node, "width", &width);
    bool hasHeight = GetNodeAttribute(node, "height", &height);
    bool hasToolbar = GetNodeAttribute(node, "show_toolbar", &showToolbar);
    if (!(hasX || hasY || hasWidth || hasHeight || hasToolbar))
        return;

    unsigned int left = static_cast<unsigned int>(x);
    unsigned int top = static_cast<unsigned int>(y);
    unsigned char window[16] = {};
    PutInt16(window + 0, top);
    PutInt16(window + 2, left);
    PutInt16(window + 4, top + static_cast<unsigned int>(height));
    PutInt16(window + 6, left + static_cast<unsigned int>(width));
    PutCode(window + 8, "icnv");
    window[13] = showToolbar ? 1 : 0;
    database->SetBlob(viewName, MakeFourCharCode("fwi0"), sizeof(window), window);

    unsigned char const iconSpacing[8] = {};
    database->SetBlob(viewName, MakeFourCharCode("icsp"), sizeof(iconSpacing), iconSpacing);
    unsigned char const iconGridOptions[8] = {0, 0, 0, 0, 0, 0, 0, 4};
    database->SetBlob(viewName, MakeFourCharCode("icgo"), sizeof(iconGridOptions), iconGridOptions);
}

void SetIconViewRecords(CXmlNode const* node, char const* viewName, CDesktopDatabase* database)
{
    bool grid = false;
    int iconSize = 48;
    std::string textPosition;
    bool hasGrid = GetNodeAttribute(node, "grid", &grid);
    bool hasIconSize = GetNodeAttribute(node, "icon_size", &iconSize);
    bool hasTextPosition = GetNodeAttribute(node, "text_position", &textPosition);
    if (!(hasGrid || hasIconSize || hasTextPosition))
        return;

    bool labelRight = strcasecmp(textPosition.c_str(), "right") == 0;
    unsigned char options[26] = {};
    PutCode(options + 0, "icv4");
    options[5] = static_cast<unsigned char>(static_cast<unsigned int>(iconSize) & 0xFF);
    PutCode(options + 6, grid ? "grid" : "none");
    PutCode(options + 10, labelRight ? "rght" : "botm");
    options[23] = 4;
    database->SetBlob(viewName, MakeFourCharCode("icvo"), sizeof(options), options);
    database->SetBool(viewName, MakeFourCharCode("ICVO"), true);
}

bool SetBackgroundRecords(std::string const& background, char const* viewName, CDesktopDatabase* database,
                          char const* containerPath)
{
    std::string picturePath = std::string(containerPath) + "/" + background;

    CFileRef folderRef;
    if (FSPathMakeRef(containerPath, &folderRef, nullptr) != 0)
    {
        std::fprintf(stderr, "Error: Unable to link to current path '%s'. This is odd.\n", containerPath);
        return false;
    }
    CFileRef pictureRef;
    if (FSPathMakeRef(picturePath.c_str(), &pictureRef, nullptr) != 0)
    {
        std::fprintf(stderr,
                     "Error: Unable to link to image '%s'. Make sure the view line appears after the file "
                     "is copied to the image.\n",
                     picturePath.c_str());
        return false;
    }
    CAliasHandle alias;
    if (FSNewAlias(&folderRef, pictureRef, &alias) != 0 || !alias)
    {
        std::fprintf(stderr,
                     "Error: Unable to create alias to image '%s'. Make sure the view line appears after the "
                     "file is copied to the image.\n",
                     picturePath.c_str());
        return false;
    }

    unsigned int aliasSize = GetAliasSize(alias);
    database->SetBlob(viewName, MakeFourCharCode("pict"), aliasSize, alias->bytes.data());
    unsigned char descriptor[12] = {};
    PutCode(descriptor + 0, "PctB");
    PutInt32(descriptor + 4, aliasSize);
    PutInt32(descriptor + 8, 0xB4);
    database->SetBlob(viewName, MakeFourCharCode("BKGD"), sizeof(descriptor), descriptor);
    return true;
}
} // namespace

bool ProcessView(CXmlTree* viewTree, char const* viewName, CDesktopDatabase* viewDatabase,
                 char const* containerPath)
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

    SetWindowRecords(node, viewName, viewDatabase);
    SetIconViewRecords(node, viewName, viewDatabase);
    int toolbarWidth = 0;
    if (GetNodeAttribute(node, "toolbar_width", &toolbarWidth))
        viewDatabase->SetShort(viewName, MakeFourCharCode("fwsw"), LowSixteenBits(toolbarWidth));
    int fontSize = 0;
    if (GetNodeAttribute(node, "font_size", &fontSize))
        viewDatabase->SetShort(viewName, MakeFourCharCode("icvt"), LowSixteenBits(fontSize));

    if (hasBackground)
        return SetBackgroundRecords(background, viewName, viewDatabase, containerPath);
    return true;
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
        PutInt32(location + 0, static_cast<unsigned int>(x));
        PutInt32(location + 4, static_cast<unsigned int>(y));
        std::memset(location + 8, 0xFF, 6);
        database->SetBlob(name.c_str(), MakeFourCharCode("Iloc"), sizeof(location), location);
    }
    return true;
}
