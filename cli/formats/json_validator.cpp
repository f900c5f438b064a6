// JSON's general reader and schema check: nlohmann's SAX interface straight into the Document,
// so there is no DOM of millions of small nodes, the schema is checked as values arrive, and each
// error names the line where it went wrong. The reader takes this path whenever its fast one
// gives up.
#include <cstdint>
#include <iterator>

#include <nlohmann/json.hpp>

#include "format_detail.h"

namespace korrand::io::detail {
namespace {

// A char pointer that tells the reader how far the parser has got, so schema errors (found in
// SAX callbacks, which carry no position) can name a line.
class TrackingIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    TrackingIterator(const char* p, const char** sink) : p_(p), sink_(sink) {}
    reference operator*() const { return *p_; }
    TrackingIterator& operator++() {
        ++p_;
        *sink_ = p_;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const TrackingIterator& o) const { return p_ == o.p_; }
    bool operator!=(const TrackingIterator& o) const { return p_ != o.p_; }

private:
    const char* p_;
    const char** sink_;
};

enum class Kind { Object, Array, Number, String, Boolean, Null, Binary };

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Object:
            return "an object";
        case Kind::Array:
            return "an array";
        case Kind::Number:
            return "a number";
        case Kind::String:
            return "a string";
        case Kind::Boolean:
            return "a boolean";
        case Kind::Null:
            return "null";
        case Kind::Binary:
            return "binary data";
    }
    return "?";
}

class Sax {
public:
    Sax(Document& doc, const char* begin, const char** pos) : doc_(doc), begin_(begin), pos_(pos) {}

    // Set when parsing stopped; line 0 = unknown.
    std::string error;
    int errorLine = 0;

    bool null() { return Value(Kind::Null); }
    bool boolean(bool b) {
        if (InParameters()) return Store(StoredValue{StoredValue::Kind::Boolean, 0, b, 0});
        return Value(Kind::Boolean);
    }
    bool number_integer(std::int64_t v) {
        if (InParameters()) return Store(StoredValue{StoredValue::Kind::Integer, v, false, 0});
        return Number(static_cast<double>(v));
    }
    bool number_unsigned(std::uint64_t v) {
        if (InParameters()) {
            if (v > static_cast<std::uint64_t>(INT64_MAX))
                return Fail(Where() + "parameter \"" + parameterKey_ + "\" is out of range");
            return Store(
                StoredValue{StoredValue::Kind::Integer, static_cast<std::int64_t>(v), false, 0});
        }
        return Number(static_cast<double>(v));
    }
    bool number_float(double v, const std::string&) {
        if (InParameters()) return Store(StoredValue{StoredValue::Kind::Real, 0, false, v});
        return Number(v);
    }
    bool binary(nlohmann::json::binary_t&) { return Value(Kind::Binary); }
    bool string(std::string& s) {
        if (skip_ == 0 && member_ == Member::Name) {
            member_ = Member::None;
            (frames_.back() == Frame::Top ? singleName_ : doc_.objects.back().name) = std::move(s);
            return true;
        }
        return Value(Kind::String);
    }
    bool start_object(std::size_t) { return Value(Kind::Object); }
    bool start_array(std::size_t) { return Value(Kind::Array); }

    bool key(std::string& k) {
        if (skip_ > 0) return true;
        if (frames_.back() == Frame::Parameters) {
            for (const StoredParameter& p : Current().parameters)
                if (p.key == k) return Fail(Where() + "duplicate parameter \"" + k + "\"");
            parameterKey_ = std::move(k);
            return true;
        }
        const bool top = frames_.back() == Frame::Top;
        if (k == "segments") {
            bool& seen = top ? topSegments_ : objectSegments_;
            if (seen) return Fail(Where() + "duplicate key \"segments\"");
            if (top && topObjects_)
                return Fail("has both \"segments\" and \"objects\" at the top level");
            seen = true;
            member_ = Member::Segments;
        } else if (k == "objects" && top) {
            if (topObjects_) return Fail("duplicate key \"objects\"");
            if (topSegments_) return Fail("has both \"segments\" and \"objects\" at the top level");
            topObjects_ = true;
            member_ = Member::Objects;
        } else if (k == "name") {
            member_ = Member::Name;
        } else if (k == "parameters") {
            bool& seen = top ? topParameters_ : objectParameters_;
            if (seen) return Fail(Where() + "duplicate key \"parameters\"");
            seen = true;
            member_ = Member::Parameters;
        } else {
            member_ = Member::Unknown;  // other keys are ignored, for forward compatibility
        }
        return true;
    }

    bool end_object() {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        const Frame frame = frames_.back();
        if (frame == Frame::Object && !objectSegments_)
            return Fail(Where() + "missing \"segments\"");
        frames_.pop_back();
        if (frame == Frame::Top) {
            if (!topSegments_ && !topObjects_)
                return Fail("expected \"segments\" or \"objects\" at the top level");
            if (topObjects_ && topParameters_)
                return Fail("\"parameters\" belong to each of \"objects\", not to the top level");
            if (topSegments_) {
                doc_.objects.front().name = std::move(singleName_);
                doc_.objects.front().parameters = std::move(singleParameters_);
            }
        }
        return true;
    }

    bool end_array() {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        if (frames_.back() == Frame::Point && coordinate_ < 2)
            return Fail(Where() + "a point needs 2 or 3 coordinates, got " +
                        std::to_string(coordinate_));
        frames_.pop_back();
        return true;
    }

    bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& e) {
        // nlohmann's message reads "[json.exception.parse_error.101] parse error at line 1, column
        // 2: syntax error ..."; keep what follows the position, and count the line ourselves.
        std::string message = e.what();
        const std::size_t column = message.find("column ");
        const std::size_t colon = message.find(": ", column == std::string::npos ? 0 : column);
        if (colon != std::string::npos) message = message.substr(colon + 2);
        const std::size_t at = byte > 0 ? byte - 1 : 0;
        error = message;
        errorLine = LineAt(
            begin_, begin_ + std::min<std::size_t>(at, static_cast<std::size_t>(End() - begin_)));
        return false;
    }

private:
    enum class Frame { Top, ObjectsArray, Object, SegmentsArray, Segment, Point, Parameters };
    enum class Member { None, Segments, Objects, Name, Parameters, Unknown };

    bool InParameters() const {
        return skip_ == 0 && !frames_.empty() && frames_.back() == Frame::Parameters;
    }
    // The stored parameters being read: the object's, or the single object's at the top level.
    LineObject& Current() {
        static_cast<void>(0);
        return parametersOfTop_ ? singleHolder_ : doc_.objects.back();
    }
    bool Store(StoredValue value) {
        Current().parameters.push_back(StoredParameter{std::move(parameterKey_), value});
        return true;
    }

    const char* End() const { return *pos_; }

    bool Number(double v) {
        if (skip_ == 0 && !frames_.empty() && frames_.back() == Frame::Point) {
            if (coordinate_ >= 3) return Fail(Where() + "a point has more than 3 coordinates");
            Point& p = doc_.objects.back().segments.back().back();
            (coordinate_ == 0 ? p.x : coordinate_ == 1 ? p.y : p.z) = v;
            ++coordinate_;
            return true;
        }
        return Value(Kind::Number);
    }

    // The start of any value other than a coordinate or a name.
    bool Value(Kind kind) {
        const bool container = kind == Kind::Object || kind == Kind::Array;
        if (skip_ > 0) {
            if (container) ++skip_;
            return true;
        }
        if (frames_.empty()) {
            if (kind != Kind::Object)
                return Fail(std::string("the top level must be an object, got ") + KindName(kind));
            frames_.push_back(Frame::Top);
            return true;
        }
        switch (frames_.back()) {
            case Frame::Top:
            case Frame::Object: {
                const Member member = member_;
                member_ = Member::None;
                switch (member) {
                    case Member::Segments:
                        if (kind != Kind::Array)
                            return Fail(Where() + "\"segments\" must be an array, got " +
                                        KindName(kind));
                        if (frames_.back() == Frame::Top) doc_.objects.emplace_back();
                        frames_.push_back(Frame::SegmentsArray);
                        return true;
                    case Member::Objects:
                        if (kind != Kind::Array)
                            return Fail(std::string("\"objects\" must be an array, got ") +
                                        KindName(kind));
                        doc_.multi = true;
                        frames_.push_back(Frame::ObjectsArray);
                        return true;
                    case Member::Name:
                        return Fail(Where() + "\"name\" must be a string, got " + KindName(kind));
                    case Member::Parameters:
                        if (kind != Kind::Object)
                            return Fail(Where() + "\"parameters\" must be an object, got " +
                                        KindName(kind));
                        parametersOfTop_ = frames_.back() == Frame::Top;
                        frames_.push_back(Frame::Parameters);
                        return true;
                    case Member::Unknown:
                    case Member::None:
                        if (container) skip_ = 1;
                        return true;
                }
                return true;
            }
            case Frame::ObjectsArray:
                if (kind != Kind::Object)
                    return Fail(Where() + "each of \"objects\" must be an object, got " +
                                KindName(kind));
                doc_.objects.emplace_back();
                objectSegments_ = objectParameters_ = false;
                frames_.push_back(Frame::Object);
                return true;
            case Frame::SegmentsArray:
                if (kind != Kind::Array)
                    return Fail(Where() + "a segment must be an array of points, got " +
                                KindName(kind));
                doc_.objects.back().segments.emplace_back();
                frames_.push_back(Frame::Segment);
                return true;
            case Frame::Segment:
                if (kind != Kind::Array)
                    return Fail(Where() + "a point must be an array [x, y, z], got " +
                                KindName(kind));
                doc_.objects.back().segments.back().push_back(Point{0, 0, 0});
                coordinate_ = 0;
                frames_.push_back(Frame::Point);
                return true;
            case Frame::Point:
                return Fail(Where() + "a coordinate must be a number, got " + KindName(kind));
            case Frame::Parameters:
                return Fail(Where() + "parameter \"" + parameterKey_ +
                            "\" must be a number or a boolean, got " + KindName(kind));
        }
        return true;
    }

    // Where in the schema the parser is, e.g. "objects[2].segments[0][5]: ".
    std::string Where() const {
        std::string where;
        for (const Frame frame : frames_) {
            switch (frame) {
                case Frame::Top:
                case Frame::Object:
                    break;
                case Frame::ObjectsArray:
                    where += "objects";
                    break;
                case Frame::SegmentsArray:
                    if (!where.empty() || doc_.multi)
                        where += "[" + std::to_string(doc_.objects.size() - 1) + "].";
                    where += "segments";
                    break;
                case Frame::Segment:
                    where += "[" + std::to_string(doc_.objects.back().segments.size() - 1) + "]";
                    break;
                case Frame::Point:
                    where +=
                        "[" + std::to_string(doc_.objects.back().segments.back().size() - 1) + "]";
                    break;
                case Frame::Parameters:
                    if (!parametersOfTop_ && doc_.multi)
                        where += "[" + std::to_string(doc_.objects.size() - 1) + "]";
                    where += where.empty() ? "parameters" : ".parameters";
                    break;
            }
        }
        if (!frames_.empty() && frames_.back() == Frame::Object && doc_.multi)
            where += "[" + std::to_string(doc_.objects.size() - 1) + "]";
        return where.empty() ? where : where + ": ";
    }

    bool Fail(std::string message) {
        error = std::move(message);
        errorLine = LineAt(begin_, End());
        return false;
    }

    Document& doc_;
    const char* begin_;
    const char** pos_;
    std::vector<Frame> frames_;
    Member member_ = Member::None;
    std::size_t skip_ = 0;  // depth inside an ignored value
    int coordinate_ = 0;
    bool topSegments_ = false, topObjects_ = false, objectSegments_ = false;
    bool topParameters_ = false, objectParameters_ = false, parametersOfTop_ = false;
    std::string singleName_;
    std::string parameterKey_;
    // The single object's parameters may come before its segments create it.
    LineObject singleHolder_;
    std::vector<StoredParameter>& singleParameters_ = singleHolder_.parameters;
};

}  // namespace

Document ReadJsonWithNlohmann(std::string text, const std::string& file) {
    Document doc;
    const char* begin = text.data();
    const char* pos = begin;
    Sax sax(doc, begin, &pos);
    const TrackingIterator first(begin, &pos), last(begin + text.size(), &pos);
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(first, last, &sax);
    } catch (const std::exception& e) {
        throw ReadError(file, LineAt(begin, pos), e.what());
    }
    if (!ok) throw ReadError(file, sax.errorLine, sax.error.empty() ? "invalid JSON" : sax.error);
    doc.drawingSize = DrawingSize(doc);
    return doc;
}

}  // namespace korrand::io::detail
