// Draws the preview picture with cairo and pango: the window's title bar and toolbar, the
// background picture, each visible item's icon at its position and its name. Icons without a PNG
// element are drawn as a generic application.
#include "preview/PreviewPicture.h"

#include "picture/IcnsElements.h"
#include "io/TempOutputFile.h"

#include <algorithm>
#include <cairo.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <pango/pangocairo.h>
#include <plist/plist.h>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kScale = 2;           // retina
constexpr double kTitleBarHeight = 28; // points
constexpr double kToolbarHeight = 40;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 400;
constexpr int kDefaultIconSize = 48;
constexpr int kDefaultTextSize = 12;
constexpr int kLargestSide = 4096; // points; larger windows are refused
constexpr long kLargestIconFile = 16 << 20;

using CSurface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

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
        }
    return look;
}

std::vector<uint8_t> ReadSmallFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    std::streamoff const size = in.tellg();
    if (!in || size <= 0 || size > kLargestIconFile)
        return {};
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return in ? bytes : std::vector<uint8_t>();
}

CSurface LoadPngBytes(uint8_t const* data, size_t size)
{
    struct CCursor
    {
        uint8_t const* data;
        size_t left;
    } cursor{data, size};
    auto read = [](void* closure, unsigned char* out, unsigned int length) {
        auto* c = static_cast<CCursor*>(closure);
        if (length > c->left)
            return CAIRO_STATUS_READ_ERROR;
        std::memcpy(out, c->data, length);
        c->data += length;
        c->left -= length;
        return CAIRO_STATUS_SUCCESS;
    };
    CSurface surface(cairo_image_surface_create_from_png_stream(read, &cursor), &cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return CSurface(nullptr, &cairo_surface_destroy);
    return surface;
}

// The largest PNG picture of an .icns file.
CSurface LoadIcns(std::string const& path)
{
    std::vector<uint8_t> const bytes = ReadSmallFile(path);
    CSurface best(nullptr, &cairo_surface_destroy);
    for (CIcnsPng const& png : ListIcnsPngElements(bytes))
    {
        CSurface picture = LoadPngBytes(png.data, png.size);
        if (picture && (!best || cairo_image_surface_get_width(picture.get()) >
                                     cairo_image_surface_get_width(best.get())))
            best = std::move(picture);
    }
    return best;
}

// The icon an application bundle names in its Info.plist (CFBundleIconFile, ".icns" optional).
CSurface LoadBundleIcon(std::string const& bundle)
{
    std::vector<uint8_t> const info = ReadSmallFile(bundle + "/Contents/Info.plist");
    if (info.empty())
        return CSurface(nullptr, &cairo_surface_destroy);
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<char const*>(info.data()), uint32_t(info.size()), &root);
    std::unique_ptr<void, void (*)(void*)> owner(root, [](void* node) { plist_free(static_cast<plist_t>(node)); });
    plist_t item = root && plist_get_node_type(root) == PLIST_DICT ? plist_dict_get_item(root, "CFBundleIconFile")
                                                                  : nullptr;
    char* name = nullptr;
    if (item && plist_get_node_type(item) == PLIST_STRING)
        plist_get_string_val(item, &name);
    std::string iconName = name ? name : "";
    std::free(name);
    if (iconName.empty() || iconName.find('/') != std::string::npos)
        return CSurface(nullptr, &cairo_surface_destroy);
    if (iconName.size() < 5 || strcasecmp(iconName.c_str() + iconName.size() - 5, ".icns") != 0)
        iconName += ".icns";
    return LoadIcns(bundle + "/Contents/Resources/" + iconName);
}

void RoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// Generic icons in a unit square, scaled by the caller.
void DrawFolder(cairo_t* cr)
{
    RoundedRectangle(cr, 0.06, 0.16, 0.38, 0.2, 0.04);
    cairo_set_source_rgb(cr, 0.36, 0.62, 0.90);
    cairo_fill(cr);
    RoundedRectangle(cr, 0.06, 0.24, 0.88, 0.62, 0.05);
    cairo_set_source_rgb(cr, 0.45, 0.72, 0.96);
    cairo_fill(cr);
    cairo_move_to(cr, 0.06, 0.34);
    cairo_line_to(cr, 0.94, 0.34);
    cairo_set_source_rgb(cr, 0.36, 0.62, 0.90);
    cairo_set_line_width(cr, 0.02);
    cairo_stroke(cr);
}

void DrawDocument(cairo_t* cr)
{
    cairo_move_to(cr, 0.18, 0.06);
    cairo_line_to(cr, 0.62, 0.06);
    cairo_line_to(cr, 0.82, 0.26);
    cairo_line_to(cr, 0.82, 0.94);
    cairo_line_to(cr, 0.18, 0.94);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_set_line_width(cr, 0.02);
    cairo_stroke(cr);
    cairo_move_to(cr, 0.62, 0.06);
    cairo_line_to(cr, 0.62, 0.26);
    cairo_line_to(cr, 0.82, 0.26);
    cairo_stroke(cr);
}

void DrawApplication(cairo_t* cr)
{
    RoundedRectangle(cr, 0.1, 0.1, 0.8, 0.8, 0.18);
    cairo_set_source_rgb(cr, 0.55, 0.58, 0.65);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 0.07);
    cairo_move_to(cr, 0.3, 0.72);
    cairo_line_to(cr, 0.5, 0.28);
    cairo_line_to(cr, 0.7, 0.72);
    cairo_move_to(cr, 0.38, 0.55);
    cairo_line_to(cr, 0.62, 0.55);
    cairo_stroke(cr);
}

// The alias badge: a curved arrow in a white square at the lower left.
void DrawAliasBadge(cairo_t* cr)
{
    cairo_rectangle(cr, 0.04, 0.62, 0.32, 0.32);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 0.02);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.05);
    cairo_move_to(cr, 0.12, 0.88);
    cairo_curve_to(cr, 0.12, 0.74, 0.18, 0.70, 0.28, 0.70);
    cairo_stroke(cr);
    cairo_move_to(cr, 0.32, 0.70);
    cairo_line_to(cr, 0.24, 0.63);
    cairo_line_to(cr, 0.24, 0.77);
    cairo_close_path(cr);
    cairo_fill(cr);
}

bool IsDirectory(std::string const& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// One item's icon, centred on (x, y) in window points.
void DrawIcon(cairo_t* cr, CXmlTree const* item, std::string const& copied, double x, double y, double size)
{
    cairo_save(cr);
    cairo_translate(cr, x - size / 2, y - size / 2);
    bool const link = IsElement(item, "link");
    bool const directory = IsElement(item, "folder") || (!link && IsDirectory(copied));
    CSurface picture(nullptr, &cairo_surface_destroy);
    if (directory && IsDirectory(copied + "/Contents"))
        picture = LoadBundleIcon(copied);
    if (picture)
    {
        double const side = std::max(cairo_image_surface_get_width(picture.get()), cairo_image_surface_get_height(picture.get()));
        cairo_scale(cr, size / side, size / side);
        cairo_set_source_surface(cr, picture.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
        cairo_paint(cr);
    }
    else
    {
        cairo_scale(cr, size, size);
        std::string const target = link ? FindAttribute(item, "target") : "";
        bool const linkToFolder = link && target.find('.', target.find_last_of('/') + 1) == std::string::npos;
        if (directory && IsDirectory(copied + "/Contents"))
            DrawApplication(cr);
        else if (directory || linkToFolder)
            DrawFolder(cr);
        else
            DrawDocument(cr);
        if (link)
            DrawAliasBadge(cr);
    }
    cairo_restore(cr);
}

void DrawLabel(cairo_t* cr, PangoFontDescription const* font, std::string const& name, CWindowLook const& look, double x,
               double y)
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

void DrawTitleBar(cairo_t* cr, PangoFontDescription const* font, std::string const& title, CWindowLook const& look)
{
    double const bar = kTitleBarHeight + (look.toolbar ? kToolbarHeight : 0);
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
        cairo_arc(cr, 14 + 20 * i, kTitleBarHeight / 2, 6, 0, 2 * kPi);
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
    if (look.toolbar)
        for (int i = 0; i < 2; ++i)
        {
            RoundedRectangle(cr, 90 + 30 * i, kTitleBarHeight + 8, 26, 22, 5);
            cairo_set_source_rgb(cr, 0.98, 0.98, 0.98);
            cairo_fill(cr);
        }
}
} // namespace

bool DrawPreviewPicture(CXmlTree const* imageTree, std::string const& volumeRoot, std::string const& pngPath,
                        std::string* error)
{
    CWindowLook const look = ReadWindowLook(imageTree);
    if (look.width < 1 || look.height < 1 || look.width > kLargestSide || look.height > kLargestSide)
    {
        *error = "the window has no size to draw";
        return false;
    }
    CSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(look.width * kScale), int(look.height * kScale)),
                     &cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()), &cairo_destroy);
    cairo_t* cr = context.get();
    cairo_scale(cr, kScale, kScale);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    double const contentTop = kTitleBarHeight + (look.toolbar ? kToolbarHeight : 0);
    cairo_save(cr);
    cairo_translate(cr, 0, contentTop);
    if (!look.background.empty())
    {
        std::vector<uint8_t> const bytes = ReadSmallFile(volumeRoot + "/" + look.background);
        CSurface picture = LoadPngBytes(bytes.data(), bytes.size());
        if (!picture)
        {
            *error = "the background picture '" + look.background + "' is not a PNG file that can be read";
            return false;
        }
        cairo_set_source_surface(cr, picture.get(), 0, 0);
        cairo_paint(cr);
    }
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string("Sans"), &pango_font_description_free);
    pango_font_description_set_absolute_size(font.get(), look.textSize * PANGO_SCALE);
    for (auto const& child : imageTree->children)
    {
        CXmlTree const* item = child.get();
        std::string const name = FindAttribute(item, "name");
        // Items without a position are placed by the Finder; hidden ones are not shown.
        if (!(IsElement(item, "file") || IsElement(item, "folder") || IsElement(item, "link")) || name.empty() ||
            name[0] == '.' || FindAttribute(item, "x").empty() || FindAttribute(item, "y").empty())
            continue;
        double const x = ReadInteger(item, "x", 0);
        double const y = ReadInteger(item, "y", 0);
        DrawIcon(cr, item, volumeRoot + "/" + name, x, y, look.iconSize);
        DrawLabel(cr, font.get(), name, look, x, y);
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
        return static_cast<CTempOutputFile*>(closure)->Write(data, length, &ignored) ? CAIRO_STATUS_SUCCESS
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
