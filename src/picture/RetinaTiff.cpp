#include "picture/RetinaTiff.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <tiffio.h>

namespace
{
// One directory (image) of the TIFF: 8-bit RGB(A) samples in strips, LZW compressed with the
// horizontal predictor (both read by every TIFF reader).
bool WriteTiffDirectory(TIFF* tiff, CPngPicture const& picture, float dotsPerInch)
{
    uint16_t const samples = picture.hasAlpha ? 4 : 3;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (picture.hasAlpha)
    {
        uint16_t const extra[] = {EXTRASAMPLE_UNASSALPHA}; // PNG alpha is not premultiplied
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    // Differences from the pixel to the left compress flat backgrounds far better.
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, dotsPerInch);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, dotsPerInch);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    size_t const rowBytes = size_t(picture.width) * samples;
    for (uint32_t row = 0; row < picture.height; ++row)
    {
        auto* bytes = const_cast<uint8_t*>(picture.pixels.data() + row * rowBytes);
        if (TIFFWriteScanline(tiff, bytes, row, 0) < 0)
            return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}
} // namespace

bool BuildRetinaTiff(CPngPicture const& single, CPngPicture const& twice, std::vector<uint8_t>* bytes,
                     std::string* error)
{
    // libtiff seeks and reads back while it links the images, so it writes into an unnamed temporary
    // file (gone with its descriptor, never left behind), which is then read whole.
    char const* directory = std::getenv("TMPDIR");
    std::string pattern = std::string(directory && *directory ? directory : "/tmp") + "/kilnpack-tiff.XXXXXX";
    CFileDescriptor file(mkstemp(pattern.data()));
    if (!file.IsOpen())
    {
        *error = "can't make a temporary file in " + pattern + ": " + std::strerror(errno);
        return false;
    }
    unlink(pattern.c_str());
    TIFF* tiff = TIFFFdOpen(dup(file.Get()), "retina.tiff", "w");
    if (tiff == nullptr)
    {
        *error = "can't start the TIFF";
        return false;
    }
    bool const written = WriteTiffDirectory(tiff, single, 72.0f) && WriteTiffDirectory(tiff, twice, 144.0f);
    TIFFClose(tiff);
    struct stat info;
    if (!written || fstat(file.Get(), &info) != 0)
    {
        *error = "can't write the TIFF";
        return false;
    }
    bytes->resize(static_cast<size_t>(info.st_size));
    if (!ReadFullyAt(file.Get(), bytes->data(), bytes->size(), 0))
    {
        *error = std::string("can't read the TIFF back: ") + std::strerror(errno);
        return false;
    }
    return true;
}
