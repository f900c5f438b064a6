// Shared helpers of the format readers and writers; not part of the public interface.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "document.h"

namespace korrand::io::detail {

// The whole stream; throws ReadError(file) when the stream fails.
std::string ReadAll(std::istream& in, const std::string& file);

// 1-based line of `pos` within text starting at `begin`.
int LineAt(const char* begin, const char* pos);

// Appends the shortest decimal form of a finite `v` that reads back as the same double.
void AppendDouble(std::string& out, double v);

// Buffered writer: fills a string and hands it to the stream in large blocks. Call Flush() at the
// end; what is left unflushed is dropped.
class OutBuffer {
public:
    explicit OutBuffer(std::ostream& out);
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;
    std::string& text() { return text_; }
    void MaybeFlush() {
        if (text_.size() >= kBlock) Flush();
    }
    void Flush();  // throws std::runtime_error when the stream fails

private:
    static constexpr std::size_t kBlock = 1 << 20;
    std::ostream& out_;
    std::string text_;
};

Document ReadJson(std::string text, const std::string& file);
// ReadJson's two paths, for tests: the fast one (false = gave up, `doc` empty) and the general one.
bool ReadJsonFast(const std::string& text, Document& doc);
Document ReadJsonWithNlohmann(std::string text, const std::string& file);
Document ReadObj(const std::string& text, const std::string& file);
Document ReadSvg(std::string text, const std::string& file, const ReadOptions& options);

void WriteJson(std::ostream& out, const Document& doc);
void WriteObj(std::ostream& out, const Document& doc);
void WriteSvg(std::ostream& out, const Document& doc, const WriteOptions& options);

// Parses "min-x min-y width height" (whitespace and/or commas); false unless the four numbers
// are finite and the size is positive.
bool ParseViewBox(const std::string& text, double (&v)[4]);

}  // namespace korrand::io::detail
