#include "picture/PngPicture.h"

#include "io/RegularInputFile.h"

#include <cstdio>
#include <png.h>

namespace
{
constexpr uint64_t kLargestPicturePixels = uint64_t(1) << 28;

// png_image keeps its state in an opaque block that must be freed on every path.
class CPngReader
{
public:
    CPngReader() { m_image.version = PNG_IMAGE_VERSION; }
    ~CPngReader()
    {
        png_image_free(&m_image);
        if (m_file)
            std::fclose(m_file);
    }
    CPngReader(CPngReader const&) = delete;
    CPngReader& operator=(CPngReader const&) = delete;

    // Only a regular file of at most 64 MB is read (a FIFO would hang libpng's open).
    bool Begin(std::string const& path, std::string* error)
    {
        CFileDescriptor fd;
        uint64_t size = 0;
        std::string reason;
        if (OpenRegularInputFile(path, kMaxPictureFileBytes, &fd, &size, &reason) != EInputFile::Opened)
        {
            *error = path + ": " + reason;
            return false;
        }
        m_file = fdopen(fd.Get(), "rb");
        if (!m_file)
        {
            *error = path + ": cannot be read";
            return false;
        }
        fd.Release();
        if (png_image_begin_read_from_stdio(&m_image, m_file))
            return true;
        *error = path + ": " + m_image.message;
        return false;
    }
    png_image& Image() { return m_image; }

private:
    png_image m_image{};
    std::FILE* m_file = nullptr;
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
