// The preview's icons: the largest PNG picture of an application's .icns, or a generic icon
// (icons without a PNG element, as from before Mac OS X 10.7, are drawn as a generic application).
#include "preview/PreviewIcons.h"

#include "picture/IcnsElements.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <plist/plist.h>
#include <strings.h>
#include <vector>

namespace
{
constexpr double kPi = 3.14159265358979323846;

CSurface NoSurface()
{
    return CSurface(nullptr, &cairo_surface_destroy);
}

// The largest PNG picture of an .icns file.
CSurface LoadIcns(std::vector<uint8_t> const& bytes)
{
    CSurface best = NoSurface();
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
CSurface LoadBundleIcon(std::string const& bundle, CVolumeReader const& volume)
{
    std::vector<uint8_t> info;
    std::string ignored;
    if (volume(bundle + "/Contents/Info.plist", &info, &ignored) != EVolumeEntry::File || info.empty())
        return NoSurface();
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<char const*>(info.data()), uint32_t(info.size()), &root);
    std::unique_ptr<void, void (*)(void*)> owner(root,
                                                 [](void* node) { plist_free(static_cast<plist_t>(node)); });
    plist_t item = root && plist_get_node_type(root) == PLIST_DICT
                       ? plist_dict_get_item(root, "CFBundleIconFile")
                       : nullptr;
    char* name = nullptr;
    if (item && plist_get_node_type(item) == PLIST_STRING)
        plist_get_string_val(item, &name);
    std::string iconName = name ? name : "";
    std::free(name);
    if (iconName.empty() || iconName.find('/') != std::string::npos)
        return NoSurface();
    if (iconName.size() < 5 || strcasecmp(iconName.c_str() + iconName.size() - 5, ".icns") != 0)
        iconName += ".icns";
    std::vector<uint8_t> icon;
    if (volume(bundle + "/Contents/Resources/" + iconName, &icon, &ignored) != EVolumeEntry::File)
        return NoSurface();
    return LoadIcns(icon);
}

// Generic icons in a unit square, scaled by the caller.
void DrawFolder(cairo_t* cr)
{
    AddRoundedRectangle(cr, 0.06, 0.16, 0.38, 0.2, 0.04);
    cairo_set_source_rgb(cr, 0.36, 0.62, 0.90);
    cairo_fill(cr);
    AddRoundedRectangle(cr, 0.06, 0.24, 0.88, 0.62, 0.05);
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
    AddRoundedRectangle(cr, 0.1, 0.1, 0.8, 0.8, 0.18);
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

bool IsElement(CXmlTree const* tree, char const* tag)
{
    return tree->node.typeCode == kXmlNodeElement && tree->node.text == tag;
}

std::string FindAttribute(CXmlTree const* tree, char const* name)
{
    auto found = tree->node.info.attributes.find(name);
    return found == tree->node.info.attributes.end() ? std::string() : found->second;
}
} // namespace

CSurface LoadPngBytes(uint8_t const* data, size_t size)
{
    struct CCursor
    {
        uint8_t const* data;
        size_t left;
    } cursor{data, size};
    auto read = [](void* closure, unsigned char* out, unsigned int length)
    {
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

void AddRoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void DrawItemIcon(cairo_t* cr, CXmlTree const* item, std::string const& volumePath,
                  CVolumeReader const& volume, double x, double y, double size)
{
    cairo_save(cr);
    cairo_translate(cr, x - size / 2, y - size / 2);
    bool const link = IsElement(item, "link");
    std::string ignored;
    bool const directory =
        IsElement(item, "folder") || (!link && volume(volumePath, nullptr, &ignored) == EVolumeEntry::Folder);
    bool const bundle =
        directory && volume(volumePath + "/Contents", nullptr, &ignored) == EVolumeEntry::Folder;
    CSurface picture = bundle ? LoadBundleIcon(volumePath, volume) : NoSurface();
    if (picture)
    {
        double const side = std::max(cairo_image_surface_get_width(picture.get()),
                                     cairo_image_surface_get_height(picture.get()));
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
        if (bundle)
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
