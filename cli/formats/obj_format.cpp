// Wavefront OBJ polylines: `v x y [z [w]]` vertices and `l i j k ...` lines, grouped by `o`/`g`.
//
// Reading: each `l` is one segment, but for two-index ones that carry on where the last ended,
// which are one (a curve written edge by edge); indices are 1-based, negative ones count back from
// the last vertex read so far, and `i/vt` forms are accepted. Positive indices may point at
// vertices defined later in the file (they are resolved at the end). Objects without `l` lines are
// dropped; faces (`f`) get one warning with their count, free-form curves, surfaces and points
// (`curv`, `surf`, `p`) another; other statements (vn, vt, usemtl, s, ...) are ignored.
// Writing: `o name`, the object's vertices, one `l` per segment with absolute indices. A segment
// of one point is written as `l i`; an empty segment is not written.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string_view>

#include "format_detail.h"

namespace korrand::io::detail {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Splits off the next whitespace-separated token; empty at the end or at a `#` comment.
std::string_view NextToken(std::string_view& rest) {
    rest = Trim(rest);
    std::size_t n = 0;
    while (n < rest.size() && !IsSpace(rest[n])) ++n;
    std::string_view token = rest.substr(0, n);
    rest.remove_prefix(n);
    if (!token.empty() && token.front() == '#') {
        rest = {};
        return {};
    }
    return token;
}

bool ParseDouble(std::string_view token, double& value) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);  // from_chars rejects '+'
    const char* end = token.data() + token.size();
    const auto result = std::from_chars(token.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !token.empty();
}

struct PendingSegment {
    std::vector<std::int64_t> indices;  // 1-based, already made absolute
    int line;
    bool edges = false;  // made of two-index 'l' statements joined end to start
};

struct PendingObject {
    std::string name;
    std::vector<PendingSegment> segments;
};

}  // namespace

Document ReadObj(const std::string& text, const std::string& file) {
    std::vector<Point> vertices;
    std::vector<PendingObject> objects(1);
    bool anyLines = false;
    int64_t faces = 0, others = 0;  // others: free-form geometry and points, not dashed either
    int firstFaceLine = 0, firstOtherLine = 0;

    std::string joined;  // a logical line continued with a trailing backslash
    // A byte order mark, as Windows editors write one, is not part of the first statement.
    std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        ++lineNumber;
        const int statementLine = lineNumber;
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (!Trim(line).empty() && Trim(line).back() == '\\') {
            joined.clear();
            while (!Trim(line).empty() && Trim(line).back() == '\\' && pos < text.size()) {
                const std::string_view trimmed = Trim(line);
                joined.append(trimmed.data(), trimmed.size() - 1);
                joined += ' ';
                end = text.find('\n', pos);
                if (end == std::string::npos) end = text.size();
                line = std::string_view(text.data() + pos, end - pos);
                pos = end + 1;
                ++lineNumber;
            }
            joined.append(line.data(), line.size());
            line = joined;
        }

        std::string_view rest = line;
        const std::string_view keyword = NextToken(rest);
        const auto fail = [&](const std::string& message) {
            throw ReadError(file, statementLine, message);
        };

        if (keyword == "v") {
            double c[3] = {0, 0, 0};
            for (int i = 0; i < 3; ++i) {
                const std::string_view token = NextToken(rest);
                if (token.empty()) {
                    if (i < 2) fail("a vertex needs at least x and y");
                    break;
                }
                if (!ParseDouble(token, c[i])) fail("bad number '" + std::string(token) + "'");
                if (!std::isfinite(c[i]))
                    fail("non-finite coordinate '" + std::string(token) + "'");
            }
            vertices.push_back(Point{c[0], c[1], c[2]});
        } else if (keyword == "l") {
            PendingSegment segment{{}, statementLine};
            for (std::string_view token = NextToken(rest); !token.empty();
                 token = NextToken(rest)) {
                const std::string_view index = token.substr(0, token.find('/'));
                std::int64_t i = 0;
                const char* indexEnd = index.data() + index.size();
                const auto result = std::from_chars(index.data(), indexEnd, i);
                if (index.empty() || result.ec != std::errc() || result.ptr != indexEnd)
                    fail("bad vertex index '" + std::string(token) + "'");
                if (i == 0) fail("vertex index 0 is invalid (indices start at 1)");
                if (i < 0) {
                    const std::int64_t absolute =
                        static_cast<std::int64_t>(vertices.size()) + i + 1;
                    if (absolute < 1)
                        fail("vertex index " + std::to_string(i) + " is out of range (" +
                             std::to_string(vertices.size()) + " vertices so far)");
                    i = absolute;
                }
                segment.indices.push_back(i);
            }
            if (segment.indices.empty()) fail("'l' without vertex indices");
            // A curve written edge by edge (Blender's exporter writes one 'l' per edge) is one
            // polyline: an edge that starts where the last one ended carries it on, until it
            // comes back to where it began.
            auto& segments = objects.back().segments;
            if (segment.indices.size() == 2 && !segments.empty() && segments.back().edges &&
                segments.back().indices.back() == segment.indices.front() &&
                segments.back().indices.front() != segments.back().indices.back()) {
                segments.back().indices.push_back(segment.indices.back());
            } else {
                segment.edges = segment.indices.size() == 2;
                segments.push_back(std::move(segment));
            }
            anyLines = true;
        } else if (keyword == "o" || keyword == "g") {
            objects.push_back(PendingObject{std::string(Trim(rest)), {}});
        } else if (keyword == "f") {
            if (faces++ == 0) firstFaceLine = statementLine;
        } else if (keyword == "curv" || keyword == "surf" || keyword == "p") {
            if (others++ == 0) firstOtherLine = statementLine;
        }
        // Anything else (comments, vt, vn, f, usemtl, ...) carries nothing we dash.
    }
    // A mesh alone is the OBJ most often tried: the refusal says that its faces are not dashed.
    if (!anyLines)
        throw ReadError(file, 0,
                        "no polylines ('l' statements)" +
                            (faces == 0 ? std::string()
                                        : " to dash, only " + std::to_string(faces) +
                                              (faces == 1 ? " face" : " faces") +
                                              " ('f'), which are not dashed"));

    Document doc;
    // A mesh exported with its curves: the output holds only the dashes, so say what is left out.
    if (faces > 0)
        doc.warnings.push_back(
            (file.empty() ? std::string("<input>") : file) + ":" + std::to_string(firstFaceLine) +
            ": skipped " + std::to_string(faces) + (faces == 1 ? " face" : " faces") +
            " ('f'): only polylines ('l') are dashed, and the output holds only their dashes");
    if (others > 0)
        doc.warnings.push_back(
            (file.empty() ? std::string("<input>") : file) + ":" + std::to_string(firstOtherLine) +
            ": skipped " + std::to_string(others) +
            (others == 1 ? " free-form curve, surface or point"
                         : " free-form curves, surfaces and points") +
            " ('curv', 'surf', 'p'): only polylines ('l') are dashed (export curves as "
            "polylines)");
    for (PendingObject& pending : objects) {
        if (pending.segments.empty()) continue;
        LineObject object;
        object.name = std::move(pending.name);
        object.segments.reserve(pending.segments.size());
        for (const PendingSegment& segment : pending.segments) {
            std::vector<Point> points;
            points.reserve(segment.indices.size());
            for (const std::int64_t i : segment.indices) {
                if (i > static_cast<std::int64_t>(vertices.size()))
                    throw ReadError(file, segment.line,
                                    "vertex index " + std::to_string(i) + " is out of range (" +
                                        std::to_string(vertices.size()) + " vertices)");
                points.push_back(vertices[static_cast<std::size_t>(i - 1)]);
            }
            object.segments.push_back(std::move(points));
        }
        doc.objects.push_back(std::move(object));
    }
    doc.drawingSize = DrawingSize(doc);
    return doc;
}

void WriteObj(std::ostream& out, const Document& doc) {
    OutBuffer buffer(out);
    std::string& text = buffer.text();
    text += "# korrand dashes\n";
    std::uint64_t written = 0;  // vertices so far
    for (std::size_t n = 0; n < doc.objects.size(); ++n) {
        const LineObject& object = doc.objects[n];
        std::string name = object.name.empty() ? "object " + std::to_string(n + 1) : object.name;
        // One line, readable by other tools: no line break, NUL or other control character.
        for (char& c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
        // Nor a backslash at its end, which continues the line: the vertices after it would be
        // read as part of the name.
        if (const auto last = name.find_last_not_of(' ');
            last != std::string::npos && name[last] == '\\')
            name[last] = '/';
        text += "o " + name + "\n";
        for (const auto& segment : object.segments)
            for (const Point& p : segment) {
                text += "v ";
                AppendDouble(text, p.x);
                text += ' ';
                AppendDouble(text, p.y);
                text += ' ';
                AppendDouble(text, p.z);
                text += '\n';
                buffer.MaybeFlush();
            }
        char digits[24];
        for (const auto& segment : object.segments) {
            if (segment.empty()) continue;
            text += 'l';
            for (std::size_t i = 0; i < segment.size(); ++i) {
                const auto result = std::to_chars(digits, digits + sizeof digits, ++written);
                text += ' ';
                text.append(digits, result.ptr);
                buffer.MaybeFlush();
            }
            text += '\n';
        }
    }
    buffer.Flush();
}

}  // namespace korrand::io::detail
