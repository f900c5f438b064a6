// gzip-compressed files, through plain zlib.
#include "gzip.h"

#include <climits>
#include <cstring>
#include <stdexcept>

#include "document.h"

namespace korrand::io::detail {
namespace {

constexpr std::size_t kChunk = 1 << 16;
constexpr std::size_t kMaxInflated = static_cast<std::size_t>(INT32_MAX);  // as a read file

// windowBits for a gzip wrapper (16) around the largest window (15).
constexpr int kGzipWindow = 15 + 16;

}  // namespace

bool IsGzip(const std::string& text) {
    return text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0x1f &&
           static_cast<unsigned char>(text[1]) == 0x8b;
}

std::string Gunzip(const std::string& compressed, const std::string& file) {
    z_stream zs{};
    if (inflateInit2(&zs, kGzipWindow) != Z_OK) throw std::bad_alloc();
    struct End {
        z_stream* zs;
        ~End() { inflateEnd(zs); }
    } end{&zs};
    std::string out;
    std::size_t at = 0;  // where the current member's input continues
    for (;;) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + at));
        const std::size_t left = compressed.size() - at;
        zs.avail_in = static_cast<uInt>(std::min<std::size_t>(left, UINT_MAX));
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            const std::size_t old = out.size();
            if (old >= kMaxInflated)
                throw ReadError(file, 0, "the compressed file inflates to more than 2 GiB");
            out.resize(old + kChunk);
            zs.next_out = reinterpret_cast<Bytef*>(out.data() + old);
            zs.avail_out = static_cast<uInt>(kChunk);
            status = inflate(&zs, Z_NO_FLUSH);
            out.resize(old + kChunk - zs.avail_out);
            if (status == Z_STREAM_END) break;
            if (status == Z_BUF_ERROR && zs.avail_in == 0)
                throw ReadError(file, 0, "the compressed file is cut short");
            if (status != Z_OK && status != Z_BUF_ERROR)
                throw ReadError(file, 0,
                                std::string("the compressed file is damaged: ") +
                                    (zs.msg != nullptr ? zs.msg : "invalid data"));
        }
        at = compressed.size() - zs.avail_in;
        // Another member may follow, as concatenated gzip files are one stream.
        if (!IsGzip(compressed.substr(at, 2))) break;
        inflateReset(&zs);
    }
    return out;
}

GzipBuffer::GzipBuffer(std::ostream& out) : out_(out), in_(kChunk), buffer_(kChunk) {
    // Level 6, zlib's default. The header names no time and no system, so equal input gives
    // equal bytes on every platform.
    if (deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::bad_alloc();
    header_.os = 255;  // unknown
    deflateSetHeader(&zs_, &header_);
    setp(in_.data(), in_.data() + in_.size());
}

GzipBuffer::~GzipBuffer() {
    deflateEnd(&zs_);
}

void GzipBuffer::Deflate(int flush) {
    zs_.next_in = reinterpret_cast<Bytef*>(pbase());
    zs_.avail_in = static_cast<uInt>(pptr() - pbase());
    int status = Z_OK;
    do {
        zs_.next_out = reinterpret_cast<Bytef*>(buffer_.data());
        zs_.avail_out = static_cast<uInt>(buffer_.size());
        status = deflate(&zs_, flush);
        if (status == Z_STREAM_ERROR) throw std::runtime_error("compressing the output failed");
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size() - zs_.avail_out));
        if (!out_) throw std::runtime_error("write failed");
    } while (zs_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    setp(in_.data(), in_.data() + in_.size());
}

GzipBuffer::int_type GzipBuffer::overflow(int_type c) {
    if (finished_) return traits_type::eof();
    Deflate(Z_NO_FLUSH);
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int GzipBuffer::sync() {
    return 0;  // compressed data is handed on in whole blocks, and all of it by Finish
}

void GzipBuffer::Finish() {
    if (finished_) return;
    Deflate(Z_FINISH);
    finished_ = true;
    out_.flush();
    if (!out_) throw std::runtime_error("write failed");
}

}  // namespace korrand::io::detail
