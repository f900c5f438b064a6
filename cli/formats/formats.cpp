// Format selection, errors and the helpers every format shares.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <istream>
#include <limits>
#include <ostream>

#include "document.h"
#include "format_detail.h"
#include "gzip.h"
#include "portable_math.h"

namespace korrand::io {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

std::string ErrorText(const std::string& file, int line, const std::string& message) {
    std::string text = file.empty() ? std::string("<input>") : file;
    if (line > 0) text += ":" + std::to_string(line);
    return OneLine(text + ": " + message);
}

}  // namespace

std::optional<Format> FormatFromName(const std::string& name) {
    const std::string n = Lower(name);
    if (n == "json") return Format::Json;
    if (n == "obj") return Format::Obj;
    if (n == "svg" || n == "svgz") return Format::Svg;
    return std::nullopt;
}

namespace {
std::string Extension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}
}  // namespace

std::optional<Format> FormatFromPath(const std::string& path) {
    const std::string extension = Extension(path);
    if (extension.empty()) return std::nullopt;
    return FormatFromName(extension);
}

bool IsCompressedName(const std::string& nameOrPath) {
    return Lower(nameOrPath) == "svgz" || Lower(Extension(nameOrPath)) == "svgz";
}

std::optional<Format> SniffFormat(std::istream& in) {
    std::streambuf* buf = in.rdbuf();
    if (!in || buf == nullptr) return std::nullopt;
    // One byte is enough: no JSON, OBJ or SVG text begins with 0x1f.
    const auto first = buf->sgetc();
    if (first == std::char_traits<char>::to_int_type('\x1f')) return Format::Svg;
    return std::nullopt;
}

const char* FormatName(Format format) {
    switch (format) {
        case Format::Json:
            return "json";
        case Format::Obj:
            return "obj";
        case Format::Svg:
            return "svg";
    }
    return "?";
}

ReadError::ReadError(std::string file_, int line_, std::string message_)
    : std::runtime_error(ErrorText(file_, line_, message_)),
      file(std::move(file_)),
      line(line_),
      message(std::move(message_)) {}

Document Read(std::istream& in, Format format, const std::string& file,
              const ReadOptions& options) {
    std::string text = detail::ReadAll(in, file);
    // Compressed (.svgz, or any gzip file): known by its first bytes, whatever its name says.
    if (detail::IsGzip(text)) text = detail::Gunzip(text, file);
    // Windows PowerShell's '>' writes a program's output as UTF-16: said so, not read as garbage.
    if (format != Format::Svg &&
        (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0))
        throw ReadError(file, 0,
                        std::string("UTF-16 text, where korrand reads ") +
                            (format == Format::Json ? "JSON" : "OBJ") +
                            " as UTF-8 (save it as UTF-8, or have korrand write it with -o)");
    switch (format) {
        case Format::Json:
            return detail::ReadJson(std::move(text), file);
        case Format::Obj:
            return detail::ReadObj(text, file);
        case Format::Svg:
            return detail::ReadSvg(std::move(text), file, options);
    }
    throw ReadError(file, 0, "unknown format");
}

void Write(std::ostream& out, Format format, const Document& dashed, const WriteOptions& options) {
    if (options.compress) {
        detail::GzipBuffer gzip(out);
        std::ostream compressed(&gzip);
        WriteOptions plain = options;
        plain.compress = false;
        Write(compressed, format, dashed, plain);
        if (!compressed) throw std::runtime_error("write failed");
        gzip.Finish();
        return;
    }
    switch (format) {
        case Format::Json:
            detail::WriteJson(out, dashed);
            return;
        case Format::Obj:
            detail::WriteObj(out, dashed);
            return;
        case Format::Svg:
            detail::WriteSvg(out, dashed, options);
            return;
    }
}

double PageLength(const std::vector<Point>& segment, bool closed) {
    double length = 0;
    for (std::size_t i = 1; i < segment.size(); ++i)
        length += math::Hypot(segment[i].x - segment[i - 1].x, segment[i].y - segment[i - 1].y);
    if (closed && segment.size() > 1)
        length +=
            math::Hypot(segment.front().x - segment.back().x, segment.front().y - segment.back().y);
    return length;
}

double DrawingSize(const Document& doc) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::array<double, 3> lo{inf, inf, inf}, hi{-inf, -inf, -inf};
    bool any = false;
    for (const LineObject& object : doc.objects)
        for (const auto& segment : object.segments)
            for (const Point& p : segment) {
                if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
                const std::array<double, 3> c{p.x, p.y, p.z};
                for (int i = 0; i < 3; ++i) {
                    lo[i] = std::min(lo[i], c[i]);
                    hi[i] = std::max(hi[i], c[i]);
                }
                any = true;
            }
    if (!any) return 0;
    const double size = math::Hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    return std::isfinite(size) ? size : std::numeric_limits<double>::max();
}

namespace detail {

std::string ReadAll(std::istream& in, const std::string& file) {
    std::string text;
    std::streambuf* buf = in.rdbuf();
    if (!in || buf == nullptr) throw ReadError(file, 0, "cannot read the input");
    // A file's size is known: its text is read without growing (and copying) as it comes.
    const std::streamoff at = buf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (at >= 0) {
        const std::streamoff end = buf->pubseekoff(0, std::ios::end, std::ios::in);
        if (buf->pubseekpos(at, std::ios::in) != std::streampos(at))
            throw ReadError(file, 0, "cannot read the input");
        if (end > at) {
            // In one read: a block at a time, each first cleared, took twice as long.
            const auto size = static_cast<std::size_t>(end - at);
            text.resize(size);
            const std::streamsize got = buf->sgetn(text.data(), static_cast<std::streamsize>(size));
            text.resize(static_cast<std::size_t>(std::max<std::streamsize>(got, 0)));
            if (got < static_cast<std::streamsize>(size)) return text;
        }
        // At its end, as it nearly always is: asking for a block more would double the string
        // (a second copy of the whole text) only to find nothing.
        if (buf->sgetc() == std::char_traits<char>::eof()) return text;
    }
    // Of unknown size (a pipe), or grown since: the rest a block at a time.
    constexpr std::size_t kChunk = 1 << 20;
    for (;;) {
        const std::size_t old = text.size();
        text.resize(old + kChunk);
        const std::streamsize got =
            buf->sgetn(text.data() + old, static_cast<std::streamsize>(kChunk));
        text.resize(old + static_cast<std::size_t>(std::max<std::streamsize>(got, 0)));
        if (got < static_cast<std::streamsize>(kChunk)) break;
    }
    return text;
}

int LineAt(const char* begin, const char* pos) {
    if (pos < begin) return 0;
    const std::ptrdiff_t n = std::count(begin, pos, '\n');
    return n >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(n) + 1;
}

void AppendDouble(std::string& out, double v) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, result.ptr);
}

OutBuffer::OutBuffer(std::ostream& out) : out_(out) {
    text_.reserve(kBlock + 4096);
}

void OutBuffer::Flush() {
    out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
    if (!out_) throw std::runtime_error("write failed");
}

}  // namespace detail
}  // namespace korrand::io

namespace korrand::io::detail {

bool ParseViewBox(const std::string& text, double (&v)[4]) {
    const char* p = text.c_str();
    for (double& value : v) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == ',') ++p;
        char* end = nullptr;
        value = std::strtod(p, &end);
        if (end == p || !std::isfinite(value)) return false;
        p = end;
    }
    return v[2] > 0 && v[3] > 0;
}

}  // namespace korrand::io::detail

namespace korrand::io {

bool ParseLength(const std::string& text, double* px) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    if (end == p) return false;
    std::string unit = Lower(end);
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\t')) unit.pop_back();
    // CSS absolute units, 96 px to the inch.
    double scale = 0;
    if (unit.empty() || unit == "px")
        scale = 1;
    else if (unit == "in")
        scale = 96;
    else if (unit == "cm")
        scale = 96 / 2.54;
    else if (unit == "mm")
        scale = 96 / 25.4;
    else if (unit == "pt")
        scale = 96.0 / 72;
    else if (unit == "pc")
        scale = 16;
    const double result = value * scale;
    if (!(scale > 0) || !std::isfinite(result) || !(result > 0)) return false;
    *px = result;
    return true;
}

}  // namespace korrand::io
