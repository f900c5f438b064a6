// The host model's built-in TIFF reader and writer (used where libtiff is not available, as in
// the Windows build) against libtiff itself: same pixels for every kind of file it reads,
// refusal of what it does not read, and files that libtiff reads back.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tiff_file.h"

namespace fs = std::filesystem;

namespace {

struct Layout {
    const char* name;
    const char* mode;                      // "w" little-endian, "wb" big-endian
    uint16_t photometric, samples, extra;  // extra: 0 none, else the ExtraSamples value + 1
    uint32_t rowsPerStrip;
    uint16_t compression = COMPRESSION_NONE;
};

std::string TempFile(const std::string& name) {
    return (fs::temp_directory_path() / ("korrand-tiff-" + name)).string();
}

// Samples of a small image with every byte value in use.
uint8_t Sample(uint32_t x, uint32_t y, uint32_t c) {
    return static_cast<uint8_t>((x * 37 + y * 91 + c * 53 + x * y) & 0xff);
}

bool WriteWithLibtiff(const std::string& path, const Layout& l, uint32_t w, uint32_t h,
                      int directories = 1) {
    TIFF* tif = TIFFOpen(path.c_str(), l.mode);
    if (tif == nullptr) return false;
    bool ok = true;
    for (int d = 0; d < directories && ok; ++d) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w + static_cast<uint32_t>(d));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        if (l.extra != 0) {
            const uint16_t extra[1] = {static_cast<uint16_t>(l.extra - 1)};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        const uint32_t width = w + static_cast<uint32_t>(d);
        std::vector<uint8_t> row(size_t(width) * l.samples);
        for (uint32_t y = 0; ok && y < h; ++y) {
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t c = 0; c < l.samples; ++c)
                    row[size_t(x) * l.samples + c] = Sample(x, y + static_cast<uint32_t>(d), c);
            ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
        }
        ok = ok && TIFFWriteDirectory(tif) == 1;
    }
    TIFFClose(tif);
    return ok;
}

bool ReadWithLibtiff(const std::string& path, int32_t frame, uint32_t* w, uint32_t* h,
                     std::vector<uint32_t>* pixels) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return false;
    bool ok = frame <= 0 || TIFFSetDirectory(tif, static_cast<tdir_t>(frame)) == 1;
    ok = ok && TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, w) == 1 &&
         TIFFGetField(tif, TIFFTAG_IMAGELENGTH, h) == 1;
    if (ok) {
        pixels->assign(size_t(*w) * *h, 0);
        ok = TIFFReadRGBAImageOriented(tif, *w, *h, pixels->data(), ORIENTATION_TOPLEFT, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

class TiffBuiltin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    }
};

}  // namespace

TEST_F(TiffBuiltin, ReadsBaselineImagesExactlyAsLibtiff) {
    const std::vector<Layout> layouts = {
        {"rgb", "w", PHOTOMETRIC_RGB, 3, 0, 64},
        {"rgba-assoc", "w", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_ASSOCALPHA, 64},
        {"rgba-unassoc", "w", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_UNASSALPHA, 64},
        {"rgba-unspecified", "w", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_UNSPECIFIED, 64},
        {"rgba-no-extra-tag", "w", PHOTOMETRIC_RGB, 4, 0, 64},
        {"rgba-big-endian", "wb", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_ASSOCALPHA, 64},
        {"rgba-strips", "w", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_ASSOCALPHA, 3},
        {"rgb-strips-big-endian", "wb", PHOTOMETRIC_RGB, 3, 0, 1},
        {"grey", "w", PHOTOMETRIC_MINISBLACK, 1, 0, 5},
        {"grey-white-is-zero", "w", PHOTOMETRIC_MINISWHITE, 1, 0, 64},
        {"grey-alpha", "w", PHOTOMETRIC_MINISBLACK, 2, 1 + EXTRASAMPLE_ASSOCALPHA, 4},
        {"grey-unassoc-alpha", "w", PHOTOMETRIC_MINISBLACK, 2, 1 + EXTRASAMPLE_UNASSALPHA, 64},
    };
    for (const Layout& l : layouts) {
        const std::string path = TempFile(std::string(l.name) + ".tif");
        ASSERT_TRUE(WriteWithLibtiff(path, l, 23, 17)) << l.name;
        uint32_t w0 = 0, h0 = 0, w1 = 0, h1 = 0;
        std::vector<uint32_t> expected, got;
        ASSERT_TRUE(ReadWithLibtiff(path, -1, &w0, &h0, &expected)) << l.name;
        ASSERT_TRUE(hostmodel::tiff::Read(path, -1, &w1, &h1, &got)) << l.name;
        EXPECT_EQ(w1, w0) << l.name;
        EXPECT_EQ(h1, h0) << l.name;
        EXPECT_EQ(got, expected) << l.name;
        std::remove(path.c_str());
    }
}

TEST_F(TiffBuiltin, ReadsTheIconAndLaterDirectories) {
    uint32_t w0 = 0, h0 = 0, w1 = 0, h1 = 0;
    std::vector<uint32_t> expected, got;
    const std::string icon = KORRAND_SOURCE_DIR "/res/korrand.tif";
    ASSERT_TRUE(ReadWithLibtiff(icon, -1, &w0, &h0, &expected));
    ASSERT_TRUE(hostmodel::tiff::Read(icon, -1, &w1, &h1, &got));
    EXPECT_EQ(w1, 64u);
    EXPECT_EQ(h1, 64u);
    EXPECT_EQ(got, expected);

    const std::string path = TempFile("frames.tif");
    const Layout l{"frames", "w", PHOTOMETRIC_RGB, 4, 1 + EXTRASAMPLE_ASSOCALPHA, 64};
    ASSERT_TRUE(WriteWithLibtiff(path, l, 5, 4, 3));
    for (int32_t frame : {0, 1, 2}) {
        ASSERT_TRUE(ReadWithLibtiff(path, frame, &w0, &h0, &expected)) << frame;
        ASSERT_TRUE(hostmodel::tiff::Read(path, frame, &w1, &h1, &got)) << frame;
        EXPECT_EQ(w1, 5u + static_cast<uint32_t>(frame));
        EXPECT_EQ(got, expected) << frame;
    }
    EXPECT_FALSE(hostmodel::tiff::Read(path, 3, &w1, &h1, &got));
    std::remove(path.c_str());
}

TEST_F(TiffBuiltin, RefusesWhatItDoesNotRead) {
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    EXPECT_FALSE(hostmodel::tiff::Read(TempFile("absent.tif"), -1, &w, &h, &px));

    // Compressed data.
    const std::string packed = TempFile("packbits.tif");
    Layout l{"packbits", "w", PHOTOMETRIC_RGB, 3, 0, 64, COMPRESSION_PACKBITS};
    ASSERT_TRUE(WriteWithLibtiff(packed, l, 8, 8));
    EXPECT_FALSE(hostmodel::tiff::Read(packed, -1, &w, &h, &px));
    std::remove(packed.c_str());

    // Garbage, truncation at every length, and a cut-off strip.
    const std::string good = TempFile("good.tif");
    ASSERT_TRUE(WriteWithLibtiff(good, {"good", "w", PHOTOMETRIC_RGB, 3, 0, 64}, 6, 5));
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::string bad = TempFile("bad.tif");
    for (size_t n :
         {size_t(0), size_t(4), size_t(11), size_t(8 + 6 * 5 * 3 - 1), bytes.size() - 1}) {
        std::ofstream(bad, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(n));
        EXPECT_FALSE(hostmodel::tiff::Read(bad, -1, &w, &h, &px)) << n;
    }
    std::ofstream(bad, std::ios::binary | std::ios::trunc).write("II*\0garbage", 11);
    EXPECT_FALSE(hostmodel::tiff::Read(bad, -1, &w, &h, &px));
    // Flipping any one byte never crashes; whatever is read is a whole image.
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string flipped = bytes;
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
        std::ofstream(bad, std::ios::binary | std::ios::trunc) << flipped;
        if (hostmodel::tiff::Read(bad, -1, &w, &h, &px)) {
            EXPECT_EQ(px.size(), size_t(w) * h) << i;
        }
    }
    std::remove(bad.c_str());
    std::remove(good.c_str());
}

TEST_F(TiffBuiltin, WritesWhatLibtiffReadsBack) {
    const uint32_t w = 7, h = 3;
    std::vector<uint32_t> px;
    for (uint32_t i = 0; i < w * h; ++i) px.push_back(0x01020304u * (i + 1) ^ (i << 28));
    const std::string path = TempFile("written.tif");
    ASSERT_TRUE(hostmodel::tiff::Write(path, w, h, px));
    uint32_t rw = 0, rh = 0;
    std::vector<uint32_t> back;
    ASSERT_TRUE(ReadWithLibtiff(path, -1, &rw, &rh, &back));
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_EQ(back, px);
    ASSERT_TRUE(hostmodel::tiff::Read(path, -1, &rw, &rh, &back));
    EXPECT_EQ(back, px);
    std::remove(path.c_str());
    EXPECT_FALSE(hostmodel::tiff::Write(TempFile("no-such-folder/x.tif"), w, h, px));
}
