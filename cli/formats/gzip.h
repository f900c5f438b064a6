// gzip-compressed files (.svgz): recognised by their first bytes, inflated whole on reading and
// deflated as they are written. Plain zlib.
#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <zlib.h>

namespace korrand::io::detail {

// Whether `text` begins as a gzip stream does (1f 8b).
bool IsGzip(const std::string& text);

// The inflated content of a gzip stream (several members are read one after the other); throws
// ReadError(file) for a stream that is damaged or cut short, or inflates beyond 2 GiB.
std::string Gunzip(const std::string& compressed, const std::string& file);

// A stream buffer that deflates what is written to it into gzip on `out`. Finish() writes the
// stream's end; without it the output is cut short.
class GzipBuffer : public std::streambuf {
public:
    explicit GzipBuffer(std::ostream& out);
    ~GzipBuffer() override;
    GzipBuffer(const GzipBuffer&) = delete;
    GzipBuffer& operator=(const GzipBuffer&) = delete;
    // Throws std::runtime_error when zlib or the stream fails.
    void Finish();

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    void Deflate(int flush);

    std::ostream& out_;
    z_stream zs_{};
    gz_header header_{};
    std::vector<char> in_, buffer_;
    bool finished_ = false;
};

}  // namespace korrand::io::detail
