// TIFF files without libtiff, for builds where it is not available. Reads uncompressed baseline
// images only: 8 bits per sample, greyscale or RGB with or without alpha, one image plane,
// stored in strips, top-left orientation. Anything else is refused as unreadable. Pixels come
// out exactly as TIFFReadRGBAImage gives them for these images. Writes the same kind of file
// that tiff_file_libtiff.cpp writes.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "tiff_file.h"

namespace hostmodel {
namespace tiff {
namespace {

enum : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfig = 284,
    kTileWidth = 322,
    kExtraSamples = 338,
    kSampleFormat = 339,
};
enum : uint16_t { kByte = 1, kShort = 3, kLong = 4 };
enum : uint32_t { kWhiteIsZero = 0, kBlackIsZero = 1, kRgb = 2 };
enum : uint32_t { kUnspecifiedAlpha = 0, kAssociatedAlpha = 1, kUnassociatedAlpha = 2 };

// More than any image within kMaxPixels needs, with room for its directories.
constexpr uint64_t kMaxFileBytes = kMaxPixels * 4 + (uint64_t(1) << 24);
constexpr uint32_t kMaxValues = uint32_t(1) << 24;  // per field
constexpr int32_t kMaxDirectories = 1 << 16;

class File {
public:
    File(const std::vector<uint8_t>& bytes, bool little) : b_(bytes), little_(little) {}

    bool U16(uint64_t at, uint32_t* v) const {
        if (at > b_.size() || b_.size() - at < 2) return false;
        const uint32_t b0 = b_[at], b1 = b_[at + 1];
        *v = little_ ? (b0 | b1 << 8) : (b0 << 8 | b1);
        return true;
    }
    bool U32(uint64_t at, uint32_t* v) const {
        uint32_t lo = 0, hi = 0;
        if (!U16(at, little_ ? &lo : &hi) || !U16(at + 2, little_ ? &hi : &lo)) return false;
        *v = lo | hi << 16;
        return true;
    }
    uint64_t Size() const { return b_.size(); }
    const uint8_t* At(uint64_t at) const { return b_.data() + at; }

private:
    const std::vector<uint8_t>& b_;
    bool little_;
};

bool Wanted(uint32_t tag) {
    for (uint32_t t : {kImageWidth, kImageLength, kBitsPerSample, kCompression, kPhotometric,
                       kStripOffsets, kOrientation, kSamplesPerPixel, kRowsPerStrip,
                       kStripByteCounts, kPlanarConfig, kTileWidth, kExtraSamples, kSampleFormat})
        if (tag == t) return true;
    return false;
}

// One image file directory: the fields a baseline reader needs, as unsigned integers.
class Directory {
public:
    bool Parse(const File& f, uint32_t at) {
        uint32_t n = 0;
        if (!f.U16(at, &n) || n == 0) return false;
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t e = uint64_t(at) + 2 + uint64_t(i) * 12;
            uint32_t tag = 0, type = 0, count = 0;
            if (!f.U16(e, &tag) || !f.U16(e + 2, &type) || !f.U32(e + 4, &count)) return false;
            if (!Wanted(tag)) continue;
            if (type != kByte && type != kShort && type != kLong) return false;
            if (count == 0 || count > kMaxValues) return false;
            const uint32_t size = type == kByte ? 1 : type == kShort ? 2 : 4;
            uint64_t data = e + 8;
            if (uint64_t(count) * size > 4) {
                uint32_t off = 0;
                if (!f.U32(e + 8, &off)) return false;
                data = off;
            }
            if (data > f.Size() || f.Size() - data < uint64_t(count) * size) return false;
            std::vector<uint32_t>& values = fields_[static_cast<uint16_t>(tag)];
            values.resize(count);
            for (uint32_t k = 0; k < count; ++k) {
                const uint64_t p = data + uint64_t(k) * size;
                if (size == 1)
                    values[k] = *f.At(p);
                else if (!(size == 2 ? f.U16(p, &values[k]) : f.U32(p, &values[k])))
                    return false;
            }
        }
        return f.U32(uint64_t(at) + 2 + uint64_t(n) * 12, &next_);
    }
    bool Has(uint16_t tag) const { return fields_.count(tag) != 0; }
    const std::vector<uint32_t>* Values(uint16_t tag) const {
        auto it = fields_.find(tag);
        return it != fields_.end() ? &it->second : nullptr;
    }
    uint32_t Value(uint16_t tag, uint32_t fallback) const {
        const std::vector<uint32_t>* v = Values(tag);
        return v != nullptr ? (*v)[0] : fallback;
    }
    uint32_t Next() const { return next_; }

private:
    std::map<uint16_t, std::vector<uint32_t>> fields_;
    uint32_t next_ = 0;
};

bool ReadAll(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 8 || static_cast<uint64_t>(size) > kMaxFileBytes) return false;
    in.seekg(0, std::ios::beg);
    bytes->resize(static_cast<size_t>(size));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes->data()), size));
}

uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return r | g << 8 | b << 16 | a << 24;
}

bool Decode(const File& f, const Directory& d, uint32_t* width, uint32_t* height,
            std::vector<uint32_t>* out) {
    const uint32_t w = d.Value(kImageWidth, 0), h = d.Value(kImageLength, 0);
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || uint64_t(w) * h > kMaxPixels)
        return false;
    const uint32_t spp = d.Value(kSamplesPerPixel, 1);
    const uint32_t photometric = d.Value(kPhotometric, UINT32_MAX);
    if (spp == 0 || spp > 8 || d.Value(kCompression, 1) != 1 || d.Value(kOrientation, 1) != 1 ||
        (spp > 1 && d.Value(kPlanarConfig, 1) != 1) || d.Has(kTileWidth))
        return false;
    const std::vector<uint32_t>* bits = d.Values(kBitsPerSample);
    if (bits == nullptr) return false;  // the default, 1 bit, is not read here
    for (uint32_t b : *bits)
        if (b != 8) return false;
    if (const std::vector<uint32_t>* formats = d.Values(kSampleFormat))
        for (uint32_t s : *formats)
            if (s != 1) return false;

    // Alpha as libtiff decides it.
    const std::vector<uint32_t>* extra = d.Values(kExtraSamples);
    uint32_t extras = extra != nullptr ? static_cast<uint32_t>(extra->size()) : 0;
    uint32_t alpha = kUnspecifiedAlpha;
    if (extras >= 1) {
        if ((*extra)[0] == kUnspecifiedAlpha && spp > 3) alpha = kAssociatedAlpha;
        if ((*extra)[0] == kAssociatedAlpha || (*extra)[0] == kUnassociatedAlpha)
            alpha = (*extra)[0];
    } else if (spp == 4 && photometric == kRgb) {
        alpha = kAssociatedAlpha;
        extras = 1;
    }
    if (extras > spp) return false;
    const uint32_t colours = spp - extras;
    if (photometric == kRgb) {
        if (colours < 3) return false;
    } else if (photometric != kBlackIsZero && photometric != kWhiteIsZero) {
        return false;
    }

    const std::vector<uint32_t>* offsets = d.Values(kStripOffsets);
    const std::vector<uint32_t>* counts = d.Values(kStripByteCounts);
    const uint32_t rowsPerStrip = std::max<uint32_t>(1, std::min(d.Value(kRowsPerStrip, h), h));
    const uint32_t strips = (h - 1) / rowsPerStrip + 1;
    if (offsets == nullptr || counts == nullptr || offsets->size() < strips ||
        counts->size() < strips)
        return false;
    const uint64_t rowBytes = uint64_t(w) * spp;

    std::vector<uint32_t> pixels(size_t(w) * h);
    for (uint32_t s = 0; s < strips; ++s) {
        const uint32_t first = s * rowsPerStrip, rows = std::min(rowsPerStrip, h - first);
        const uint64_t need = rowBytes * rows, at = (*offsets)[s];
        if ((*counts)[s] < need || at > f.Size() || f.Size() - at < need) return false;
        const uint8_t* p = f.At(at);
        for (uint64_t i = 0; i < uint64_t(w) * rows; ++i, p += spp) {
            uint32_t& px = pixels[size_t(first) * w + size_t(i)];
            if (photometric == kRgb) {
                uint32_t r = p[0], g = p[1], b = p[2], a = 255;
                if (alpha == kAssociatedAlpha) {
                    a = p[3];
                } else if (alpha == kUnassociatedAlpha) {
                    a = p[3];
                    r = (r * a + 127) / 255;
                    g = (g * a + 127) / 255;
                    b = (b * a + 127) / 255;
                }
                px = Pack(r, g, b, a);
            } else {
                const uint32_t v = photometric == kWhiteIsZero ? 255 - p[0] : p[0];
                // Grey alpha is taken as stored, associated or not (as libtiff does).
                px = Pack(v, v, v, alpha != kUnspecifiedAlpha && spp == 2 ? p[1] : 255);
            }
        }
    }
    *width = w;
    *height = h;
    out->swap(pixels);
    return true;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xffff);
    Put16(b, v >> 16);
}

}  // namespace

bool Read(const std::string& path, int32_t frame, uint32_t* width, uint32_t* height,
          std::vector<uint32_t>* pixels) {
    std::vector<uint8_t> bytes;
    if (!ReadAll(path, &bytes)) return false;
    const bool little = bytes[0] == 'I' && bytes[1] == 'I';
    if (!little && !(bytes[0] == 'M' && bytes[1] == 'M')) return false;
    const File f(bytes, little);
    uint32_t magic = 0, at = 0;
    if (!f.U16(2, &magic) || magic != 42 || !f.U32(4, &at)) return false;
    if (frame > kMaxDirectories) return false;
    Directory d;
    for (int32_t i = 0;; ++i) {
        d = Directory();
        if (at == 0 || !d.Parse(f, at)) return false;
        if (i >= frame) break;
        at = d.Next();
    }
    return Decode(f, d, width, height, pixels);
}

bool Write(const std::string& path, uint32_t width, uint32_t height,
           const std::vector<uint32_t>& pixels) {
    if (width == 0 || height == 0 || uint64_t(width) * height > kMaxPixels) return false;
    const uint32_t entries = 12, ifd = 8, bits = ifd + 2 + entries * 12 + 4, data = bits + 8;
    const uint32_t dataBytes = width * height * 4;
    std::vector<uint8_t> b;
    b.reserve(size_t(data) + dataBytes);
    b.insert(b.end(), {'I', 'I', 42, 0});
    Put32(b, ifd);
    Put16(b, entries);
    auto entry = [&b](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        Put16(b, tag);
        Put16(b, type);
        Put32(b, count);
        if (type == kShort && count == 1) {
            Put16(b, value);
            Put16(b, 0);
        } else {
            Put32(b, value);
        }
    };
    entry(kImageWidth, kLong, 1, width);
    entry(kImageLength, kLong, 1, height);
    entry(kBitsPerSample, kShort, 4, bits);
    entry(kCompression, kShort, 1, 1);
    entry(kPhotometric, kShort, 1, kRgb);
    entry(kStripOffsets, kLong, 1, data);
    entry(kOrientation, kShort, 1, 1);
    entry(kSamplesPerPixel, kShort, 1, 4);
    entry(kRowsPerStrip, kLong, 1, height);
    entry(kStripByteCounts, kLong, 1, dataBytes);
    entry(kPlanarConfig, kShort, 1, 1);
    entry(kExtraSamples, kShort, 1, kAssociatedAlpha);
    Put32(b, 0);  // no further directory
    for (int i = 0; i < 4; ++i) Put16(b, 8);
    for (uint32_t p : pixels) Put32(b, p);

    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace tiff
}  // namespace hostmodel
