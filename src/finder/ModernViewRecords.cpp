// Building the bwsp, icvp, icvl and vSrn records of a view.
#include "finder/ModernViewRecords.h"

#include "finder/BinaryPlistReals.h"

#include <algorithm>
#include <memory>
#include <plist/plist.h>

namespace
{
// The Finder's own limits of the icon view settings; values outside them are brought to the edge.
constexpr int kSmallestIconSize = 16;
constexpr int kLargestIconSize = 512;
constexpr int kDefaultIconSize = 48;
constexpr int kSmallestTextSize = 10;
constexpr int kLargestTextSize = 16;
constexpr int kDefaultTextSize = 12;
// The grid spacing every Finder-written icon view setting holds (docs/finder-records.md).
constexpr double kGridSpacing = 100.0;
// backgroundType: 0 the default background, 1 a colour, 2 a picture.
constexpr unsigned int kDefaultBackground = 0;
constexpr unsigned int kColorBackground = 1;
constexpr unsigned int kPictureBackground = 2;

struct CIconViewColor
{
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
};

struct CPlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using CPlistPtr = std::unique_ptr<void, CPlistDeleter>;

struct CBinaryDeleter
{
    void operator()(char* bytes) const { plist_to_bin_free(bytes); }
};

bool ToBinary(CPlistPtr const& root, std::vector<unsigned char>* binary, std::string* error)
{
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.get()), &raw, &length);
    std::unique_ptr<char, CBinaryDeleter> bytes(raw);
    if (!bytes)
    {
        *error = "Unable to encode a property list.";
        return false;
    }
    // The Finder's own view settings hold every real as an 8-byte double.
    return WidenBinaryPlistReals(std::vector<unsigned char>(bytes.get(), bytes.get() + length), binary,
                                 error);
}

// The colour behind the icons, components 0-1; the Finder writes white when no colour was chosen,
// and a picture wins over a colour.
CIconViewColor ChooseBackgroundColor(CViewAttributes const& view, bool hasPicture)
{
    CIconViewColor color;
    if (view.backgroundColor && !hasPicture)
    {
        color.red = view.backgroundColor->red / 255.0;
        color.green = view.backgroundColor->green / 255.0;
        color.blue = view.backgroundColor->blue / 255.0;
    }
    return color;
}

void SetBool(CPlistPtr const& dict, char const* key, bool flag)
{
    plist_dict_set_item(static_cast<plist_t>(dict.get()), key, plist_new_bool(flag ? 1 : 0));
}

void SetReal(CPlistPtr const& dict, char const* key, double number)
{
    plist_dict_set_item(static_cast<plist_t>(dict.get()), key, plist_new_real(number));
}

void SetInteger(CPlistPtr const& dict, char const* key, unsigned int number)
{
    plist_dict_set_item(static_cast<plist_t>(dict.get()), key, plist_new_uint(number));
}

void SetString(CPlistPtr const& dict, char const* key, std::string const& text)
{
    plist_dict_set_item(static_cast<plist_t>(dict.get()), key, plist_new_string(text.c_str()));
}
} // namespace

std::string FormatWindowBounds(CViewAttributes const& view)
{
    // 64-bit sums: the attributes may be anywhere in the range of int.
    long long width = std::max(0, view.width.value_or(0));
    long long height =
        static_cast<long long>(std::max(0, view.height.value_or(0))) + GetWindowFrameHeight(view);
    long long top = view.y.value_or(0);
    long long bottom = std::max(0LL, kReferenceScreenHeight - (top + height));
    return "{{" + std::to_string(view.x.value_or(0)) + ", " + std::to_string(bottom) + "}, {" +
           std::to_string(width) + ", " + std::to_string(height) + "}}";
}

int GetWindowFrameHeight(CViewAttributes const& view)
{
    return kTitleBarHeight + (view.showToolbar.value_or(false) ? kToolbarHeight : 0);
}

bool HasWindowSettings(CViewAttributes const& view)
{
    return HasWindowAttributes(view) || view.toolbarWidth;
}

bool BuildWindowSettings(CViewAttributes const& view, std::vector<unsigned char>* bytes, std::string* error)
{
    CPlistPtr dict(plist_new_dict());
    // Without a rectangle in the configuration the Finder keeps choosing the window's place.
    if (HasWindowRectangle(view))
        SetString(dict, "WindowBounds", FormatWindowBounds(view));
    SetBool(dict, "ShowToolbar", view.showToolbar.value_or(false));
    // A disk image window shows only its own contents: no bars, sidebar, tabs or preview.
    SetBool(dict, "ShowStatusBar", false);
    SetBool(dict, "ShowPathbar", false);
    SetBool(dict, "ShowSidebar", false);
    SetBool(dict, "ShowTabView", false);
    SetBool(dict, "ContainerShowSidebar", false);
    SetBool(dict, "PreviewPaneVisibility", false);
    // Finders up to OS X 10.10 read the integer, later ones the real.
    if (view.toolbarWidth)
    {
        unsigned int sidebarWidth = static_cast<unsigned int>(std::max(0, *view.toolbarWidth));
        SetInteger(dict, "SidebarWidth", sidebarWidth);
        SetReal(dict, "SidebarWidthTenElevenOrLater", sidebarWidth);
    }
    return ToBinary(dict, bytes, error);
}

bool BuildIconViewSettings(CViewAttributes const& view, std::vector<unsigned char> const* backgroundAlias,
                           std::vector<unsigned char>* bytes, std::string* error)
{
    // The sizes are kept whole, unlike the legacy record's 8-bit icon size.
    int iconSize = std::clamp(view.iconSize.value_or(kDefaultIconSize), kSmallestIconSize, kLargestIconSize);
    int textSize = std::clamp(view.fontSize.value_or(kDefaultTextSize), kSmallestTextSize, kLargestTextSize);

    CPlistPtr dict(plist_new_dict());
    SetInteger(dict, "viewOptionsVersion", 1);
    SetReal(dict, "iconSize", iconSize);
    SetReal(dict, "textSize", textSize);
    SetBool(dict, "labelOnBottom", !HasLabelOnRight(view));
    SetString(dict, "arrangeBy", view.grid.value_or(false) ? "grid" : "none");
    SetReal(dict, "gridSpacing", kGridSpacing);
    SetReal(dict, "gridOffsetX", 0.0);
    SetReal(dict, "gridOffsetY", 0.0);
    SetBool(dict, "showIconPreview", true);
    SetBool(dict, "showItemInfo", false);
    CIconViewColor color = ChooseBackgroundColor(view, backgroundAlias != nullptr);
    SetReal(dict, "backgroundColorRed", color.red);
    SetReal(dict, "backgroundColorGreen", color.green);
    SetReal(dict, "backgroundColorBlue", color.blue);
    SetInteger(dict, "backgroundType", backgroundAlias         ? kPictureBackground
                                       : view.backgroundColor ? kColorBackground
                                                              : kDefaultBackground);
    // The picture is named by its alias only: a bookmark beside it makes current systems drop the
    // background altogether.
    if (backgroundAlias)
    {
        plist_dict_set_item(
            static_cast<plist_t>(dict.get()), "backgroundImageAlias",
            plist_new_data(reinterpret_cast<char const*>(backgroundAlias->data()), backgroundAlias->size()));
    }
    return ToBinary(dict, bytes, error);
}

bool SetModernViewRecords(CViewAttributes const& view, std::vector<unsigned char> const* backgroundAlias,
                          char const* viewName, CDesktopDatabase* database, std::string* error)
{
    // The view element's type is "icon", so the folder opens in icon view.
    database->SetType(viewName, MakeFourCharCode("icvl"), MakeFourCharCode("icnv"));
    std::vector<unsigned char> iconView;
    if (!BuildIconViewSettings(view, backgroundAlias, &iconView, error))
        return false;
    database->SetBlob(viewName, MakeFourCharCode("icvp"), static_cast<unsigned int>(iconView.size()),
                      iconView.data());
    if (HasWindowSettings(view))
    {
        std::vector<unsigned char> window;
        if (!BuildWindowSettings(view, &window, error))
            return false;
        database->SetBlob(viewName, MakeFourCharCode("bwsp"), static_cast<unsigned int>(window.size()),
                          window.data());
    }
    database->SetLong(viewName, MakeFourCharCode("vSrn"), 1);
    return true;
}
