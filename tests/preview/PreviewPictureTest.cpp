// The preview picture, drawn by the program: the example's window matches the reference picture
// in the README within a tolerance for font rendering and shows every label whole; pixels where
// icons, labels and backgrounds must or must not be show the window the records describe; a
// preview that can't be drawn only warns.
#include "support/ConfigSchema.h"
#include "support/ImageTestSupport.h"

#include <algorithm>
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

// A pixel as 0xAARRGGBB; 0 outside the picture.
uint32_t PixelAt(cairo_surface_t* surface, int x, int y)
{
    if (x < 0 || y < 0 || x >= cairo_image_surface_get_width(surface) ||
        y >= cairo_image_surface_get_height(surface))
        return 0;
    unsigned char const* row =
        cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
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

// A solid picture of w x h pixels, or two colours side by side (left half, right half).
void WritePng(std::string const& path, int w, int h, uint32_t left, uint32_t right)
{
    CSurface picture(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), &cairo_surface_destroy);
    cairo_surface_flush(picture.get());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(picture.get()) +
                                        y * cairo_image_surface_get_stride(picture.get()))[x] =
                x < w / 2 ? left : right;
    cairo_surface_mark_dirty(picture.get());
    cairo_surface_write_to_png(picture.get(), path.c_str());
}

// The bounding box, in pixels, of the label ink (near black) in a rectangle of the picture.
struct CInk
{
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int GetWidth() const { return right < left ? 0 : right - left + 1; }
};

CInk FindInk(cairo_surface_t* surface, int x0, int y0, int x1, int y1)
{
    CInk ink;
    x1 = std::min(x1, cairo_image_surface_get_width(surface));
    y1 = std::min(y1, cairo_image_surface_get_height(surface));
    for (int y = std::max(y0, 0); y < y1; ++y)
        for (int x = std::max(x0, 0); x < x1; ++x)
        {
            uint32_t const pixel = PixelAt(surface, x, y);
            if (((pixel >> 16) & 0xFF) < 0x70 && ((pixel >> 8) & 0xFF) < 0x70 && (pixel & 0xFF) < 0x70)
            {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
    return ink;
}

// The ink of the label under the icon centred at (x, y) window content points: the points below
// the icon, at twice the scale, `frame` points of title bar and toolbar above the content.
CInk FindLabelInk(cairo_surface_t* surface, int frame, int x, int y, int iconSize)
{
    return FindInk(surface, 2 * (x - 45), 2 * (frame + y + iconSize / 2), 2 * (x + 45),
                   2 * (frame + y + iconSize / 2 + 60));
}

// A one-element .icns holding a 32 x 32 PNG of one colour.
std::string MakeIcns(std::string const& folder, uint32_t colour)
{
    WritePng(folder + "/icon.png", 32, 32, colour, colour);
    std::string const png = ReadWholeFile(folder + "/icon.png");
    auto be32 = [](size_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    return "icns" + be32(16 + png.size()) + "ic07" + be32(8 + png.size()) + png;
}

// An application bundle whose Info.plist names the icon Red.
void MakeApplication(std::string const& bundle)
{
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    std::ofstream(bundle + "/Contents/Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
           "<key>CFBundleIconFile</key><string>Red</string></dict></plist>";
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

TEST(PreviewPicture, ExampleShowsItsWholeWindowAndMatchesTheReferencePicture)
{
    CTempFolder work;
    std::filesystem::copy(KILNPACK_SOURCE_DIR "/example", work.path,
                          std::filesystem::copy_options::recursive);
    std::string config = ReadWholeFile(work.path + "/kilnpack.xml");
    config.replace(config.find("<image "), 7, "<image preview=\"Example.png\" ");
    std::ofstream(work.path + "/config.xml") << config;
    ExpectValidConfiguration(work.path + "/config.xml");
    EXPECT_EQ(WarningsAndErrors(Build(work.path)), "");

    CSurface picture = LoadPng(work.path + "/Example.png");
    CSurface reference = LoadPng(KILNPACK_SOURCE_DIR "/docs/example-preview.png");
    ASSERT_EQ(cairo_surface_status(picture.get()), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS);
    // Twice the configured 640 x 400 content, with the 28-point title bar above it.
    int const width = 1280, height = 2 * (400 + 28);
    ASSERT_EQ(cairo_image_surface_get_width(picture.get()), width);
    ASSERT_EQ(cairo_image_surface_get_height(picture.get()), height);
    ASSERT_EQ(cairo_image_surface_get_width(reference.get()), width);
    ASSERT_EQ(cairo_image_surface_get_height(reference.get()), height);

    // Every label whole: ink under each icon, ending above the window's bottom edge. The lowest,
    // "Read Me.txt" at y 320 with 96-point icons, ends 80 points above it.
    CInk const application = FindLabelInk(picture.get(), 28, 160, 190, 96);
    CInk const applications = FindLabelInk(picture.get(), 28, 480, 190, 96);
    CInk const readMe = FindLabelInk(picture.get(), 28, 320, 320, 96);
    for (CInk const& ink : {application, applications, readMe})
    {
        EXPECT_GT(ink.GetWidth(), 40);
        EXPECT_LT(ink.bottom, height - 8);
    }
    // "Example.app" hides its extension: "Example" is much narrower than "Applications".
    EXPECT_LT(application.GetWidth(), applications.GetWidth() * 3 / 4);

    // Text may be drawn by other fonts elsewhere: allow 2% of the pixels to differ clearly.
    long differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
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
    EXPECT_LT(differing, width * height / 50);
}

TEST(PreviewPicture, DrawsTheWindowTheRecordsDescribe)
{
    CTempFolder work;
    uint32_t const kRed = 0xFFFF0000u, kSky = 0xFF99CCFFu;
    MakeApplication(work.path + "/Red.app");
    std::ofstream(work.path + "/Red.app/Contents/Resources/Red.icns", std::ios::binary)
        << MakeIcns(work.path, kRed);
    // An application whose icon is a link out of the volume: on the Mac it names nothing.
    MakeApplication(work.path + "/Linked.app");
    std::filesystem::copy_file(work.path + "/Red.app/Contents/Resources/Red.icns",
                               work.path + "/outside.icns");
    std::filesystem::create_symlink(work.path + "/outside.icns",
                                    work.path + "/Linked.app/Contents/Resources/Red.icns");
    std::ofstream(work.path + "/Same") << "text";
    std::filesystem::create_directories(work.path + "/pictures");
    WritePng(work.path + "/pictures/back.png", 100, 60, 0xFF00FF00u, 0xFF00FF00u);
    WritePng(work.path + "/pictures/back@2x.png", 200, 120, 0xFF0000FFu, 0xFFFFFF00u);
    std::ofstream(work.path + "/config.xml")
        << "<kilnpack><image file='Look.dmg' name='Look' template_size='8' preview='Look.png'>"
           "<file source='Same' name='Same.app' x='60' y='50' hide_extension='true'/>"
           "<file source='Red.app' name='Red.app' x='150' y='50'/>"
           "<file source='Same' name='Same' x='240' y='50'/>"
           "<file source='Linked.app' name='Linked.app' x='330' y='50'/>"
           "<file source='Red.app' name='Secret.app' x='150' y='150' hidden='true'/>"
           "<view type='icon' width='400' height='200' show_toolbar='true' icon_size='64' "
           "background_color='#99CCFF'/></image>"
           "<image file='Retina.dmg' name='Retina' template_size='8' preview='Retina.png'>"
           "<folder name='.background'><file source='pictures/back.png' name='back.png'/>"
           "<file source='pictures/back@2x.png' name='back@2x.png'/></folder>"
           "<view type='icon' width='300' height='200' background='.background/back.png'/></image>"
           "<image file='Second.dmg' name='Second' template_size='8' preview='Second.png'>"
           "<file source='config.xml' name='not-a-picture.png'/>"
           "<view type='icon' width='300' height='200' background='not-a-picture.png'/></image></kilnpack>";
    std::string const errors = WarningsAndErrors(Build(work.path));

    // Content 400 x 200 below the 28-point title bar and the 24-point toolbar, at twice the scale.
    CSurface look = LoadPng(work.path + "/Look.png");
    ASSERT_EQ(cairo_surface_status(look.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(look.get()), 800);
    EXPECT_EQ(cairo_image_surface_get_height(look.get()), 2 * (200 + 52));
    int const frame = 52;
    // The application's own icon, 64 points square centred at (150, 50): its top edge is 18 points
    // below the content's.
    EXPECT_EQ(PixelAt(look.get(), 300, 2 * (frame + 50)), kRed);
    EXPECT_EQ(PixelAt(look.get(), 300, 2 * (frame + 18) + 1), kRed);
    EXPECT_EQ(PixelAt(look.get(), 300, 2 * (frame + 18) - 2), kSky);
    EXPECT_NE(PixelAt(look.get(), 660, 2 * (frame + 50)), kRed);
    // The colour behind the icons; nothing of the hidden item.
    EXPECT_EQ(PixelAt(look.get(), 40, 2 * (frame + 190)), kSky);
    EXPECT_EQ(FindInk(look.get(), 2 * 100, 2 * (frame + 110), 2 * 200, 2 * 200 + 2 * frame).GetWidth(), 0);
    for (int y = 2 * (frame + 118); y < 2 * (frame + 182); y += 7)
        EXPECT_EQ(PixelAt(look.get(), 300, y), kSky);
    // "Same.app" hiding its extension is labelled "Same", exactly as the item named so.
    CInk const hidden = FindLabelInk(look.get(), frame, 60, 50, 64);
    CInk const plain = FindLabelInk(look.get(), frame, 240, 50, 64);
    EXPECT_GT(plain.GetWidth(), 10);
    EXPECT_EQ(hidden.GetWidth(), plain.GetWidth());
    EXPECT_EQ(hidden.bottom - hidden.top, plain.bottom - plain.top);

    // The retina picture (blue | yellow, 200 x 120 pixels) drawn pixel for pixel over 100 x 60
    // points, not the single one (green) scaled up; beyond it the window is white.
    CSurface retina = LoadPng(work.path + "/Retina.png");
    ASSERT_EQ(cairo_surface_status(retina.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_height(retina.get()), 2 * (200 + 28));
    EXPECT_EQ(PixelAt(retina.get(), 99, 2 * 28 + 119), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(retina.get(), 100, 2 * 28), 0xFFFFFF00u);
    EXPECT_EQ(PixelAt(retina.get(), 199, 2 * 28 + 119), 0xFFFFFF00u);
    EXPECT_EQ(PixelAt(retina.get(), 200, 2 * 28), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(retina.get(), 10, 2 * 28 + 120), 0xFFFFFFFFu);

    EXPECT_EQ(errors, "Warning: Unable to draw the preview picture 'Second.png': the background picture "
                      "'not-a-picture.png' is not a PNG file that can be read.\n");
    EXPECT_FALSE(std::filesystem::exists(work.path + "/Second.png"));
    EXPECT_TRUE(std::filesystem::exists(work.path + "/Second.dmg"));
}
