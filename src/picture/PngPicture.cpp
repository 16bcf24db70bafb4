#include "picture/PngPicture.h"

#include <png.h>

namespace
{
constexpr uint64_t kLargestPicturePixels = uint64_t(1) << 28;

// png_image keeps its state in an opaque block that must be freed on every path.
class CPngReader
{
public:
    CPngReader() { m_image.version = PNG_IMAGE_VERSION; }
    ~CPngReader() { png_image_free(&m_image); }
    CPngReader(CPngReader const&) = delete;
    CPngReader& operator=(CPngReader const&) = delete;

    bool Begin(std::string const& path, std::string* error)
    {
        if (png_image_begin_read_from_file(&m_image, path.c_str()))
            return true;
        *error = path + ": " + m_image.message;
        return false;
    }
    png_image& Image() { return m_image; }

private:
    png_image m_image{};
};
} // namespace

bool ReadPngSize(std::string const& path, uint32_t* width, uint32_t* height, std::string* error)
{
    CPngReader reader;
    if (!reader.Begin(path, error))
        return false;
    *width = reader.Image().width;
    *height = reader.Image().height;
    return true;
}

bool ReadPngPicture(std::string const& path, CPngPicture* picture, std::string* error)
{
    CPngReader reader;
    if (!reader.Begin(path, error))
        return false;
    png_image& image = reader.Image();
    // A header may claim any size; a background picture never needs more than this many pixels.
    if (uint64_t(image.width) * image.height > kLargestPicturePixels)
    {
        *error = path + ": the picture is too large (" + std::to_string(image.width) + "x" +
                 std::to_string(image.height) + ")";
        return false;
    }
    picture->hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = picture->hasAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    picture->width = image.width;
    picture->height = image.height;
    picture->pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->pixels.data(), 0, nullptr))
    {
        *error = path + ": " + image.message;
        return false;
    }
    return true;
}
