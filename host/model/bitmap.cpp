// Bitmaps loaded from TIFF files through libtiff.
#include <tiffio.h>

#include <mutex>

#include "model_internal.h"

namespace hostmodel {
namespace {

// Images beyond this are refused rather than allocated.
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

void Quiet(const char*, const char*, va_list) {}

// A missing or corrupt file is an ordinary failure to report, not console noise.
void SilenceTiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(Quiet);
        TIFFSetWarningHandler(Quiet);
    });
}

bool LoadTiff(const std::string& path, int32_t frame, HostBitmap* bmp) {
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
    bmp->w = static_cast<int32_t>(w);
    bmp->h = static_cast<int32_t>(h);
    bmp->pixels.swap(pixels);
    return true;
}

HostBitmap* BitmapAlloc() {
    HostBitmap* bmp = nullptr;
    if (!detail::ObjectAllocationFails()) {
        try {
            bmp = new HostBitmap();
            detail::Created();
        } catch (...) {
            bmp = nullptr;
        }
    }
    if (detail::Recording()) detail::Record("bitmap.Alloc", bmp);
    return bmp;
}

void BitmapFree(HostBitmap* bmp) {
    if (detail::Recording()) detail::Record("bitmap.Free", bmp);
    if (bmp == nullptr) return;
    delete bmp;
    detail::Destroyed();
}

int32_t BitmapInit(HostBitmap* bmp, const HostFilenameData* name, int32_t frame,
                   int32_t* ismovie) {
    const std::string* path = detail::StringOf(name);
    if (detail::Recording())
        detail::Record("bitmap.Init", bmp, {frame}, {}, path != nullptr ? path->c_str() : nullptr);
    if (ismovie != nullptr) *ismovie = 0;
    if (bmp == nullptr) return 0;
    bmp->w = bmp->h = 0;
    bmp->pixels.clear();
    if (path == nullptr || path->empty()) return 0;
    try {
        return LoadTiff(*path, frame, bmp) ? 1 : 0;
    } catch (...) {
        bmp->w = bmp->h = 0;
        bmp->pixels.clear();
        return 0;
    }
}

int32_t BitmapGetBw(const HostBitmap* bmp) {
    if (detail::Recording()) detail::Record("bitmap.GetBw", bmp);
    return bmp != nullptr ? bmp->w : 0;
}

int32_t BitmapGetBh(const HostBitmap* bmp) {
    if (detail::Recording()) detail::Record("bitmap.GetBh", bmp);
    return bmp != nullptr ? bmp->h : 0;
}

} // namespace

namespace detail {
void FillBitmaps(HostBitmapOps& ops) {
    ops.Alloc = BitmapAlloc;
    ops.Free = BitmapFree;
    ops.Init = BitmapInit;
    ops.GetBw = BitmapGetBw;
    ops.GetBh = BitmapGetBh;
}
} // namespace detail

std::vector<uint32_t> Pixels(const HostBitmap* bmp) {
    return bmp != nullptr ? bmp->pixels : std::vector<uint32_t>();
}

bool WriteTiff(const std::string& path, int32_t width, int32_t height,
               const std::vector<uint32_t>& pixels) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return false;
    SilenceTiff();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) return false;
    const uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
    bool ok = true;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    for (int32_t y = 0; ok && y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                      static_cast<size_t>(x)];
            for (int c = 0; c < 4; ++c)
                row[static_cast<size_t>(x) * 4 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(p >> (8 * c));
        }
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

} // namespace hostmodel
