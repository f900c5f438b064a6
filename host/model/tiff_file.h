// Reading and writing TIFF files: the one part of the host model that depends on an image
// library. tiff_file_libtiff.cpp implements it with libtiff; tiff_file_builtin.cpp, for builds
// where libtiff is not available, with a small reader and writer of uncompressed baseline TIFF.
// The build compiles exactly one of them.
#ifndef KORRAND_HOST_MODEL_TIFF_FILE_H
#define KORRAND_HOST_MODEL_TIFF_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace hostmodel {
namespace tiff {

// Images beyond this are refused rather than allocated.
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

// Reads image number frame (the first for frame <= 0) as RGBA pixels row by row from the top,
// packed as TIFFReadRGBAImage packs them (R in the low byte). False on any failure; on success
// 0 < width, height <= INT32_MAX and width * height <= kMaxPixels.
bool Read(const std::string& path, int32_t frame, uint32_t* width, uint32_t* height,
          std::vector<uint32_t>* pixels);

// Writes an 8-bit RGBA image with associated alpha, pixels packed as Read returns them.
// width * height == pixels.size() is the caller's to check.
bool Write(const std::string& path, uint32_t width, uint32_t height,
           const std::vector<uint32_t>& pixels);

}  // namespace tiff
}  // namespace hostmodel

#endif
