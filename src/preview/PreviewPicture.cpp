// Draws the preview picture with cairo and pango: the title bar (and the toolbar) above a content
// area of the configured width and height, as the Finder's WindowBounds count them; the content's
// background colour or picture, the picture drawn from its @2x form where the volume has one; and
// each shown item's icon at its position with its name as the Finder shows it.
#include "preview/PreviewPicture.h"

#include "config/ViewAttributes.h"
#include "finder/ModernViewRecords.h"
#include "io/TempOutputFile.h"
#include "preview/PreviewIcons.h"

#include <algorithm>
#include <optional>
#include <pango/pangocairo.h>
#include <strings.h>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kScale = 2; // the picture is drawn for a retina screen
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 400;
constexpr int kDefaultIconSize = 48;
constexpr int kDefaultTextSize = 12;
constexpr int kLargestSide = 4096; // points; larger windows are refused
constexpr char const kPngExtension[] = ".png";
constexpr size_t kPngExtensionLength = sizeof kPngExtension - 1;

// What the preview needs of the root folder's view element, read without warnings (the view
// settings reader has reported unparsable values already).
struct CWindowLook
{
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    bool toolbar = false;
    int iconSize = kDefaultIconSize;
    int textSize = kDefaultTextSize;
    bool labelOnRight = false;
    std::string background;
    std::optional<CBackgroundColor> color;

    int GetFrameHeight() const { return kTitleBarHeight + (toolbar ? kToolbarHeight : 0); }
};

std::string FindAttribute(CXmlTree const* tree, char const* name)
{
    auto found = tree->node.info.attributes.find(name);
    return found == tree->node.info.attributes.end() ? std::string() : found->second;
}

int ReadInteger(CXmlTree const* tree, char const* name, int fallback)
{
    std::string const text = FindAttribute(tree, name);
    char* end = nullptr;
    long const value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() || value < -100000 || value > 100000 ? fallback : int(value);
}

bool ReadBoolean(CXmlTree const* tree, char const* name)
{
    std::string const text = FindAttribute(tree, name);
    return strcasecmp(text.c_str(), "true") == 0 || strcasecmp(text.c_str(), "yes") == 0 || text == "1";
}

bool IsElement(CXmlTree const* tree, char const* tag)
{
    return tree->node.typeCode == kXmlNodeElement && tree->node.text == tag;
}

CWindowLook ReadWindowLook(CXmlTree const* imageTree)
{
    CWindowLook look;
    for (auto const& child : imageTree->children)
        if (IsElement(child.get(), "view"))
        {
            CXmlTree const* view = child.get();
            look.width = ReadInteger(view, "width", kDefaultWidth);
            look.height = ReadInteger(view, "height", kDefaultHeight);
            look.toolbar = ReadBoolean(view, "show_toolbar");
            look.iconSize = std::clamp(ReadInteger(view, "icon_size", kDefaultIconSize), 16, 512);
            look.textSize = std::clamp(ReadInteger(view, "font_size", kDefaultTextSize), 10, 16);
            look.labelOnRight = strcasecmp(FindAttribute(view, "text_position").c_str(), "right") == 0;
            look.background = FindAttribute(view, "background");
            CBackgroundColor color;
            look.color.reset();
            // A picture wins over a colour, as in the records.
            if (look.background.empty() &&
                ParseBackgroundColor(FindAttribute(view, "background_color"), &color))
                look.color = color;
        }
    return look;
}

// The name as the Finder shows it: without its extension when the item hides it. The extension
// follows the last dot, when that dot doesn't begin the name and the extension holds no blank.
std::string GetShownName(CXmlTree const* item)
{
    std::string const name = FindAttribute(item, "name");
    if (!ReadBoolean(item, "hide_extension"))
        return name;
    size_t const dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size() ||
        name.find(' ', dot) != std::string::npos)
        return name;
    return name.substr(0, dot);
}

CSurface ReadPicture(CVolumeReader const& volume, std::string const& volumePath, std::string* error)
{
    std::vector<uint8_t> bytes;
    if (volume(volumePath, &bytes, error) != EVolumeEntry::File)
        return CSurface(nullptr, &cairo_surface_destroy);
    return LoadPngBytes(bytes.data(), bytes.size());
}

// The content's background, in content points: the colour, or the picture at its pixel size (one
// pixel a point). Where NAME@2x.png lies beside NAME.png at exactly twice its size, the volume
// holds the picture for retina screens too, and the Finder of a retina screen shows that one.
bool DrawBackground(cairo_t* cr, CWindowLook const& look, CVolumeReader const& volume, std::string* error)
{
    if (look.color)
    {
        cairo_rectangle(cr, 0, 0, look.width, look.height);
        cairo_set_source_rgb(cr, look.color->red / 255.0, look.color->green / 255.0,
                             look.color->blue / 255.0);
        cairo_fill(cr);
    }
    if (look.background.empty())
        return true;
    std::string reason;
    CSurface picture = ReadPicture(volume, "/" + look.background, &reason);
    if (!picture)
    {
        *error = "the background picture '" + look.background + "' is not a PNG file that can be read";
        return false;
    }
    std::string const& name = look.background;
    CSurface twice(nullptr, &cairo_surface_destroy);
    if (name.size() > kPngExtensionLength &&
        strcasecmp(name.c_str() + name.size() - kPngExtensionLength, kPngExtension) == 0)
    {
        std::string const stem = name.substr(0, name.size() - kPngExtensionLength);
        twice = ReadPicture(volume, "/" + stem + "@2x" + name.substr(stem.size()), &reason);
        if (twice &&
            (cairo_image_surface_get_width(twice.get()) != 2 * cairo_image_surface_get_width(picture.get()) ||
             cairo_image_surface_get_height(twice.get()) !=
                 2 * cairo_image_surface_get_height(picture.get())))
            twice.reset();
    }
    cairo_save(cr);
    if (twice)
        cairo_scale(cr, 0.5, 0.5);
    cairo_set_source_surface(cr, twice ? twice.get() : picture.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return true;
}

void DrawLabel(cairo_t* cr, PangoFontDescription const* font, std::string const& name,
               CWindowLook const& look, double x, double y)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, name.c_str(), -1);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_height(layout, -2); // at most two lines
    double const half = look.iconSize / 2.0;
    int width = 0;
    int height = 0;
    if (look.labelOnRight)
    {
        pango_layout_set_width(layout, 160 * PANGO_SCALE);
        pango_layout_get_pixel_size(layout, &width, &height);
        cairo_move_to(cr, x + half + 6, y - height / 2.0);
    }
    else
    {
        double const labelWidth = std::max(look.iconSize + 24.0, 90.0);
        pango_layout_set_width(layout, int(labelWidth * PANGO_SCALE));
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        cairo_move_to(cr, x - labelWidth / 2, y + half + 4);
    }
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

void DrawTitleBar(cairo_t* cr, PangoFontDescription const* font, std::string const& title,
                  CWindowLook const& look)
{
    double const bar = look.GetFrameHeight();
    cairo_rectangle(cr, 0, 0, look.width, bar);
    cairo_set_source_rgb(cr, 0.91, 0.91, 0.91);
    cairo_fill(cr);
    cairo_move_to(cr, 0, bar - 0.5);
    cairo_line_to(cr, look.width, bar - 0.5);
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    double const colours[3][3] = {{1.0, 0.37, 0.34}, {1.0, 0.74, 0.18}, {0.16, 0.79, 0.25}};
    for (int i = 0; i < 3; ++i)
    {
        cairo_arc(cr, 14 + 20 * i, kTitleBarHeight / 2.0, 6, 0, 2 * kPi);
        cairo_set_source_rgb(cr, colours[i][0], colours[i][1], colours[i][2]);
        cairo_fill(cr);
    }
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, title.c_str(), -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_move_to(cr, (look.width - width) / 2.0, (kTitleBarHeight - height) / 2.0);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    // Two buttons (back and forward) stand for the toolbar's controls.
    if (look.toolbar)
        for (int i = 0; i < 2; ++i)
        {
            AddRoundedRectangle(cr, 12 + 30 * i, kTitleBarHeight + 2, 26, kToolbarHeight - 6, 5);
            cairo_set_source_rgb(cr, 0.98, 0.98, 0.98);
            cairo_fill(cr);
        }
}
} // namespace

bool DrawPreviewPicture(CXmlTree const* imageTree, CVolumeReader const& volume, std::string const& pngPath,
                        std::string* error)
{
    CWindowLook const look = ReadWindowLook(imageTree);
    if (look.width < 1 || look.height < 1 || look.width > kLargestSide || look.height > kLargestSide)
    {
        *error = "the window has no size to draw";
        return false;
    }
    int const frame = look.GetFrameHeight();
    CSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(look.width * kScale),
                                                int((look.height + frame) * kScale)),
                     &cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()), &cairo_destroy);
    cairo_t* cr = context.get();
    cairo_scale(cr, kScale, kScale);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    // The content area, width x height points below the frame; nothing drawn in it spills over.
    cairo_save(cr);
    cairo_translate(cr, 0, frame);
    cairo_rectangle(cr, 0, 0, look.width, look.height);
    cairo_clip(cr);
    if (!DrawBackground(cr, look, volume, error))
        return false;
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string("Sans"), &pango_font_description_free);
    pango_font_description_set_absolute_size(font.get(), look.textSize * PANGO_SCALE);
    for (auto const& child : imageTree->children)
    {
        CXmlTree const* item = child.get();
        std::string const name = FindAttribute(item, "name");
        // Items without a position are placed by the Finder; hidden ones and dot files are not shown.
        if (!(IsElement(item, "file") || IsElement(item, "folder") || IsElement(item, "link")) ||
            name.empty() || name[0] == '.' || ReadBoolean(item, "hidden") ||
            FindAttribute(item, "x").empty() || FindAttribute(item, "y").empty())
            continue;
        double const x = ReadInteger(item, "x", 0);
        double const y = ReadInteger(item, "y", 0);
        DrawItemIcon(cr, item, "/" + name, volume, x, y, look.iconSize);
        DrawLabel(cr, font.get(), GetShownName(item), look, x, y);
    }
    cairo_restore(cr);

    std::string title = FindAttribute(imageTree, "name");
    pango_font_description_set_absolute_size(font.get(), 13 * PANGO_SCALE);
    pango_font_description_set_weight(font.get(), PANGO_WEIGHT_BOLD);
    DrawTitleBar(cr, font.get(), title, look);

    cairo_surface_flush(surface.get());
    CTempOutputFile out;
    std::string reason;
    auto write = [](void* closure, unsigned char const* data, unsigned int length)
    {
        std::string ignored;
        return static_cast<CTempOutputFile*>(closure)->Write(data, length, &ignored)
                   ? CAIRO_STATUS_SUCCESS
                   : CAIRO_STATUS_WRITE_ERROR;
    };
    if (!out.Open(pngPath, &reason) ||
        cairo_surface_write_to_png_stream(surface.get(), write, &out) != CAIRO_STATUS_SUCCESS ||
        !out.Commit(&reason))
    {
        *error = "the file can't be written";
        return false;
    }
    return true;
}
