// TIFF files through libtiff.
#include <tiffio.h>

#include <mutex>

#include "tiff_file.h"

namespace hostmodel {
namespace tiff {
namespace {

void Quiet(const char*, const char*, va_list) {}

// A missing or corrupt file is an ordinary failure to report, not console noise.
void SilenceTiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(Quiet);
        TIFFSetWarningHandler(Quiet);
    });
}

}  // namespace

bool Read(const std::string& path, int32_t frame, uint32_t* width, uint32_t* height,
          std::vector<uint32_t>* out) {
    SilenceTiff();
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return false;
    bool ok = frame <= 0 || TIFFSetDirectory(tif, static_cast<tdir_t>(frame)) == 1;
    uint32_t w = 0, h = 0;
    ok = ok && TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) == 1 &&
         TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) == 1;
    ok = ok && w > 0 && h > 0 && w <= INT32_MAX && h <= INT32_MAX &&
         uint64_t(w) * uint64_t(h) <= kMaxPixels;
    std::vector<uint32_t> pixels;
    if (ok) {
        pixels.resize(size_t(w) * size_t(h));
        ok = TIFFReadRGBAImageOriented(tif, w, h, pixels.data(), ORIENTATION_TOPLEFT, 0) == 1;
    }
    TIFFClose(tif);
    if (!ok) return false;
    *width = w;
    *height = h;
    out->swap(pixels);
    return true;
}

bool Write(const std::string& path, uint32_t width, uint32_t height,
           const std::vector<uint32_t>& pixels) {
    SilenceTiff();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) return false;
    const uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    bool ok = true;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    for (uint32_t y = 0; ok && y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            for (int c = 0; c < 4; ++c)
                row[static_cast<size_t>(x) * 4 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(p >> (8 * c));
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace tiff
}  // namespace hostmodel
