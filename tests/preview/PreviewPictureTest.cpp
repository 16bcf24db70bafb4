// The preview picture, drawn by the program: the example's window matches the reference picture
// in the README within a tolerance for font rendering, an application's own .icns icon is used,
// and a preview that can't be drawn only warns.
#include "support/ImageTestSupport.h"
#include "support/ConfigSchema.h"

#include <cairo.h>
#include <fstream>
#include <sstream>

namespace
{
using CSurface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

CSurface LoadPng(std::string const& path)
{
    return CSurface(cairo_image_surface_create_from_png(path.c_str()), &cairo_surface_destroy);
}

// A pixel as 0xAARRGGBB.
uint32_t PixelAt(cairo_surface_t* surface, int x, int y)
{
    unsigned char const* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<uint32_t const*>(row)[x];
}
// Runs the program in `folder` on config.xml; returns its standard error. Fontconfig's caches live
// as long as the process, which the leak checker of sanitized builds is told.
std::string Build(std::string const& folder)
{
    std::string const command = "cd " + QuoteArgument(folder) + " && TMPDIR=" + QuoteArgument(folder) +
                                " LSAN_OPTIONS=suppressions=" KILNPACK_SOURCE_DIR
                                "/tests/lsan-suppressions.txt:print_suppressions=0 " KILNPACK_BINARY
                                " config.xml > build.out 2> build.err";
    EXPECT_EQ(RunShell(command), 0);
    return ReadWholeFile(folder + "/build.err");
}

std::string WarningsAndErrors(std::string const& errors)
{
    std::istringstream lines(errors);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Warning", 0) == 0 || line.rfind("Error", 0) == 0 || line.rfind("Internal", 0) == 0)
            kept += line + "\n";
    return kept;
}

} // namespace

TEST(PreviewPicture, ExampleMatchesTheReferencePicture)
{
    CTempFolder work;
    std::filesystem::copy(KILNPACK_SOURCE_DIR "/example", work.path, std::filesystem::copy_options::recursive);
    std::string config = ReadWholeFile(work.path + "/kilnpack.xml");
    config.replace(config.find("<image "), 7, "<image preview=\"Example.png\" ");
    std::ofstream(work.path + "/config.xml") << config;
    ExpectValidConfiguration(work.path + "/config.xml");
    EXPECT_EQ(WarningsAndErrors(Build(work.path)), "");

    CSurface picture = LoadPng(work.path + "/Example.png");
    CSurface reference = LoadPng(KILNPACK_SOURCE_DIR "/docs/example-preview.png");
    ASSERT_EQ(cairo_surface_status(picture.get()), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS);
    // Twice the configured 640 x 400 window.
    ASSERT_EQ(cairo_image_surface_get_width(picture.get()), 1280);
    ASSERT_EQ(cairo_image_surface_get_height(picture.get()), 800);
    ASSERT_EQ(cairo_image_surface_get_width(reference.get()), 1280);
    ASSERT_EQ(cairo_image_surface_get_height(reference.get()), 800);
    // Text may be drawn by other fonts elsewhere: allow 2% of the pixels to differ clearly.
    long differing = 0;
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 1280; ++x)
        {
            uint32_t const a = PixelAt(picture.get(), x, y);
            uint32_t const b = PixelAt(reference.get(), x, y);
            for (int shift = 0; shift < 32; shift += 8)
                if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 48)
                {
                    ++differing;
                    break;
                }
        }
    EXPECT_LT(differing, 1280 * 800 / 50);
}

TEST(PreviewPicture, DrawsAnApplicationsOwnIconAndOnlyWarnsWhenItCannotDraw)
{
    CTempFolder work;
    std::string const app = work.path + "/Red.app/Contents";
    std::filesystem::create_directories(app + "/Resources");
    std::ofstream(app + "/Info.plist") << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                          "<key>CFBundleIconFile</key><string>Red</string></dict></plist>";
    // A one-element .icns holding a 32 x 32 red PNG.
    CSurface red(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32), &cairo_surface_destroy);
    cairo_t* cr = cairo_create(red.get());
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(red.get(), (work.path + "/red.png").c_str());
    std::string const png = ReadWholeFile(work.path + "/red.png");
    auto be32 = [](size_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    std::ofstream(app + "/Resources/Red.icns", std::ios::binary)
        << "icns" << be32(16 + png.size()) << "ic07" << be32(8 + png.size()) << png;
    std::ofstream(work.path + "/config.xml")
        << "<kilnpack><image file='Out.dmg' name='Icons' template_size='8' preview='Out.png'>"
           "<file source='Red.app' name='Red.app' x='100' y='100'/>"
           "<view type='icon' width='300' height='200' icon_size='64'/></image>"
           "<image file='Second.dmg' name='Second' template_size='8' preview='Second.png'>"
           "<file source='config.xml' name='not-a-picture.png'/>"
           "<view type='icon' width='300' height='200' background='not-a-picture.png'/></image></kilnpack>";
    std::string const errors = WarningsAndErrors(Build(work.path));

    CSurface picture = LoadPng(work.path + "/Out.png");
    ASSERT_EQ(cairo_surface_status(picture.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(picture.get()), 600);
    EXPECT_EQ(cairo_image_surface_get_height(picture.get()), 400);
    // The icon's centre, below the 28-point title bar, at twice the scale.
    EXPECT_EQ(PixelAt(picture.get(), 200, 2 * (28 + 100)), 0xFFFF0000u);

    EXPECT_EQ(errors, "Warning: Unable to draw the preview picture 'Second.png': the background picture "
                      "'not-a-picture.png' is not a PNG file that can be read.\n");
    EXPECT_FALSE(std::filesystem::exists(work.path + "/Second.png"));
    EXPECT_TRUE(std::filesystem::exists(work.path + "/Second.dmg"));
}
