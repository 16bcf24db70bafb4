#include "picture/RetinaTiff.h"

#include "io/TempOutputFile.h"

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

bool WriteRetinaTiff(std::string const& path, CPngPicture const& single, CPngPicture const& twice,
                     std::string* error)
{
    // libtiff writes the temporary file by its name (it seeks and reads back while linking images).
    CTempOutputFile out;
    std::string reason;
    TIFF* tiff = out.Open(path, &reason) ? TIFFOpen(out.GetTempPath().c_str(), "w") : nullptr;
    if (tiff == nullptr)
    {
        *error = "can't write " + path;
        return false;
    }
    bool written = WriteTiffDirectory(tiff, single, 72.0f) && WriteTiffDirectory(tiff, twice, 144.0f);
    TIFFClose(tiff);
    if (!written || !out.Commit(&reason))
    {
        *error = "can't write " + path;
        return false;
    }
    return true;
}
