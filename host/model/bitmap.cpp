// Bitmaps loaded from TIFF files (through tiff_file.h).
#include "model_internal.h"
#include "tiff_file.h"

namespace hostmodel {
namespace {

bool LoadTiff(const std::string& path, int32_t frame, HostBitmap* bmp) {
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> pixels;
    if (!tiff::Read(path, frame, &w, &h, &pixels)) return false;
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

int32_t BitmapInit(HostBitmap* bmp, const HostFilenameData* name, int32_t frame, int32_t* ismovie) {
    const std::string* path = detail::StringOf(name);
    if (detail::Recording())
        detail::Record("bitmap.Init", bmp, {frame, ismovie != nullptr ? 1 : 0}, {},
                       path != nullptr ? path->c_str() : nullptr);
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

}  // namespace

namespace detail {
void FillBitmaps(HostBitmapOps& ops) {
    ops.Alloc = BitmapAlloc;
    ops.Free = BitmapFree;
    ops.Init = BitmapInit;
    ops.GetBw = BitmapGetBw;
    ops.GetBh = BitmapGetBh;
}
}  // namespace detail

std::vector<uint32_t> Pixels(const HostBitmap* bmp) {
    return bmp != nullptr ? bmp->pixels : std::vector<uint32_t>();
}

bool WriteTiff(const std::string& path, int32_t width, int32_t height,
               const std::vector<uint32_t>& pixels) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return false;
    return tiff::Write(path, static_cast<uint32_t>(width), static_cast<uint32_t>(height), pixels);
}

}  // namespace hostmodel
