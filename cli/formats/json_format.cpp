// JSON: {"segments": [[[x, y, z], ...], ...]} or {"objects": [{"name": ..., "segments": ...}, ...]}.
//
// Read with nlohmann's SAX interface straight into the Document: no DOM of millions of small
// nodes, and the schema is checked as values arrive, with the line where it went wrong.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <ostream>

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
    case Kind::Object: return "an object";
    case Kind::Array: return "an array";
    case Kind::Number: return "a number";
    case Kind::String: return "a string";
    case Kind::Boolean: return "a boolean";
    case Kind::Null: return "null";
    case Kind::Binary: return "binary data";
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
  bool boolean(bool) { return Value(Kind::Boolean); }
  bool number_integer(std::int64_t v) { return Number(static_cast<double>(v)); }
  bool number_unsigned(std::uint64_t v) { return Number(static_cast<double>(v)); }
  bool number_float(double v, const std::string&) { return Number(v); }
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
    const bool top = frames_.back() == Frame::Top;
    if (k == "segments") {
      bool& seen = top ? topSegments_ : objectSegments_;
      if (seen) return Fail(Where() + "duplicate key \"segments\"");
      if (top && topObjects_) return Fail("has both \"segments\" and \"objects\" at the top level");
      seen = true;
      member_ = Member::Segments;
    } else if (k == "objects" && top) {
      if (topObjects_) return Fail("duplicate key \"objects\"");
      if (topSegments_) return Fail("has both \"segments\" and \"objects\" at the top level");
      topObjects_ = true;
      member_ = Member::Objects;
    } else if (k == "name") {
      member_ = Member::Name;
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
    if (frame == Frame::Object && !objectSegments_) return Fail(Where() + "missing \"segments\"");
    frames_.pop_back();
    if (frame == Frame::Top) {
      if (!topSegments_ && !topObjects_) return Fail("expected \"segments\" or \"objects\" at the top level");
      if (topSegments_) doc_.objects.front().name = std::move(singleName_);
    }
    return true;
  }

  bool end_array() {
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    if (frames_.back() == Frame::Point && coordinate_ < 2)
      return Fail(Where() + "a point needs 2 or 3 coordinates, got " + std::to_string(coordinate_));
    frames_.pop_back();
    return true;
  }

  bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& e) {
    // nlohmann's message reads "[json.exception.parse_error.101] parse error at line 1, column 2:
    // syntax error ..."; keep what follows the position, and count the line ourselves.
    std::string message = e.what();
    const std::size_t column = message.find("column ");
    const std::size_t colon = message.find(": ", column == std::string::npos ? 0 : column);
    if (colon != std::string::npos) message = message.substr(colon + 2);
    const std::size_t at = byte > 0 ? byte - 1 : 0;
    error = message;
    errorLine = LineAt(begin_, begin_ + std::min<std::size_t>(at, static_cast<std::size_t>(End() - begin_)));
    return false;
  }

 private:
  enum class Frame { Top, ObjectsArray, Object, SegmentsArray, Segment, Point };
  enum class Member { None, Segments, Objects, Name, Unknown };

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
      if (kind != Kind::Object) return Fail(std::string("the top level must be an object, got ") + KindName(kind));
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
            if (kind != Kind::Array) return Fail(Where() + "\"segments\" must be an array, got " + KindName(kind));
            if (frames_.back() == Frame::Top) doc_.objects.emplace_back();
            frames_.push_back(Frame::SegmentsArray);
            return true;
          case Member::Objects:
            if (kind != Kind::Array) return Fail(std::string("\"objects\" must be an array, got ") + KindName(kind));
            doc_.multi = true;
            frames_.push_back(Frame::ObjectsArray);
            return true;
          case Member::Name:
            return Fail(Where() + "\"name\" must be a string, got " + KindName(kind));
          case Member::Unknown:
          case Member::None:
            if (container) skip_ = 1;
            return true;
        }
        return true;
      }
      case Frame::ObjectsArray:
        if (kind != Kind::Object) return Fail(Where() + "each of \"objects\" must be an object, got " + KindName(kind));
        doc_.objects.emplace_back();
        objectSegments_ = false;
        frames_.push_back(Frame::Object);
        return true;
      case Frame::SegmentsArray:
        if (kind != Kind::Array)
          return Fail(Where() + "a segment must be an array of points, got " + KindName(kind));
        doc_.objects.back().segments.emplace_back();
        frames_.push_back(Frame::Segment);
        return true;
      case Frame::Segment:
        if (kind != Kind::Array) return Fail(Where() + "a point must be an array [x, y, z], got " + KindName(kind));
        doc_.objects.back().segments.back().push_back(Point{0, 0, 0});
        coordinate_ = 0;
        frames_.push_back(Frame::Point);
        return true;
      case Frame::Point:
        return Fail(Where() + "a coordinate must be a number, got " + KindName(kind));
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
          if (!where.empty() || doc_.multi) where += "[" + std::to_string(doc_.objects.size() - 1) + "].";
          where += "segments";
          break;
        case Frame::Segment:
          where += "[" + std::to_string(doc_.objects.back().segments.size() - 1) + "]";
          break;
        case Frame::Point:
          where += "[" + std::to_string(doc_.objects.back().segments.back().size() - 1) + "]";
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
  std::string singleName_;
};

void AppendCoordinate(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";  // JSON has no NaN or infinity
  } else if (v == 0 && std::signbit(v)) {
    out += "-0.0";  // "-0" would read back as the integer 0 and lose the sign
  } else {
    AppendDouble(out, v);
  }
}

void AppendSegments(OutBuffer& buffer, const LineObject& object) {
  std::string& out = buffer.text();
  out += "\"segments\": [";
  bool firstSegment = true;
  for (const auto& segment : object.segments) {
    out += firstSegment ? "\n[" : ",\n[";
    firstSegment = false;
    bool firstPoint = true;
    for (const Point& p : segment) {
      out += firstPoint ? "[" : ", [";
      firstPoint = false;
      AppendCoordinate(out, p.x);
      out += ", ";
      AppendCoordinate(out, p.y);
      out += ", ";
      AppendCoordinate(out, p.z);
      out += ']';
      buffer.MaybeFlush();
    }
    out += ']';
  }
  out += object.segments.empty() ? "]" : "\n]";
}

std::string QuotedName(const std::string& name) {
  return nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The fast path: a strict parser for exactly the schema, in plain ASCII, with numbers read by
// from_chars. nlohmann's own lexer takes ~0.8 s for a million full-precision points; this takes
// a fraction of that. It accepts a subset of what the nlohmann path accepts and builds the same
// Document from it; anything else (other keys, escapes, non-ASCII, errors) makes it give up and
// the nlohmann path decides, with its messages.
class FastJson {
 public:
  FastJson(const std::string& text, Document& doc) : p_(text.data()), end_(text.data() + text.size()), doc_(doc) {}

  bool Parse() {
    Space();
    if (!Eat('{')) return false;
    bool segments = false, objects = false, name = false;
    std::string singleName;
    Space();
    if (!Eat('}')) {
      do {
        Space();
        std::string key;
        if (!String(key) || !Colon()) return false;
        if (key == "segments" && !segments && !objects) {
          segments = true;
          doc_.objects.emplace_back();
          if (!Segments(doc_.objects.back())) return false;
        } else if (key == "objects" && !segments && !objects) {
          objects = true;
          doc_.multi = true;
          if (!Objects()) return false;
        } else if (key == "name" && !name) {
          name = true;
          if (!String(singleName)) return false;
        } else {
          return false;
        }
        Space();
      } while (Eat(','));
      if (!Eat('}')) return false;
    }
    Space();
    if (p_ != end_ || (!segments && !objects)) return false;
    if (segments) doc_.objects.front().name = std::move(singleName);
    return true;
  }

 private:
  void Space() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }
  bool Eat(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }
  bool Colon() {
    Space();
    if (!Eat(':')) return false;
    Space();
    return true;
  }
  // Printable ASCII without escapes only.
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    const char* start = p_;
    while (p_ != end_ && *p_ != '"') {
      const unsigned char c = static_cast<unsigned char>(*p_);
      if (c < 0x20 || c >= 0x80 || c == '\\') return false;
      ++p_;
    }
    if (p_ == end_) return false;
    out.assign(start, p_);
    ++p_;
    return true;
  }
  bool Digits() {
    const char* start = p_;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ != start;
  }
  // JSON's number grammar, checked here because from_chars is laxer ("01", "1.", "inf").
  bool Number(double& value) {
    const char* start = p_;
    Eat('-');
    if (p_ == end_) return false;
    bool integer = true;
    if (*p_ == '0') {
      ++p_;
    } else if (!Digits()) {
      return false;
    }
    if (Eat('.')) {
      integer = false;
      if (!Digits()) return false;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      integer = false;
      ++p_;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    const auto result = std::from_chars(start, p_, value);
    if (result.ec != std::errc() || result.ptr != p_) return false;  // out of range: let nlohmann judge
    if (integer && value == 0) value = 0;  // nlohmann reads "-0" as the integer 0
    return true;
  }
  template <class Item>
  bool List(Item item) {
    if (!Eat('[')) return false;
    Space();
    if (Eat(']')) return true;
    do {
      Space();
      if (!item()) return false;
      Space();
    } while (Eat(','));
    return Eat(']');
  }
  bool Segments(LineObject& object) {
    return List([&] {
      object.segments.emplace_back();
      std::vector<Point>& segment = object.segments.back();
      return List([&] {
        Point point{0, 0, 0};
        if (!Eat('[')) return false;
        Space();
        if (!Number(point.x)) return false;
        Space();
        if (!Eat(',')) return false;
        Space();
        if (!Number(point.y)) return false;
        Space();
        if (Eat(',')) {
          Space();
          if (!Number(point.z)) return false;
          Space();
        }
        segment.push_back(point);
        return Eat(']');
      });
    });
  }
  bool Objects() {
    return List([&] {
      if (!Eat('{')) return false;
      LineObject& object = doc_.objects.emplace_back();
      bool segments = false, name = false;
      do {
        Space();
        std::string key;
        if (!String(key) || !Colon()) return false;
        if (key == "segments" && !segments) {
          segments = true;
          if (!Segments(object)) return false;
        } else if (key == "name" && !name) {
          name = true;
          if (!String(object.name)) return false;
        } else {
          return false;
        }
        Space();
      } while (Eat(','));
      return segments && Eat('}');
    });
  }

  const char* p_;
  const char* end_;
  Document& doc_;
};

}  // namespace

bool ReadJsonFast(const std::string& text, Document& doc) {
  doc = Document{};
  if (FastJson(text, doc).Parse()) return true;
  doc = Document{};
  return false;
}

Document ReadJson(std::string text, const std::string& file) {
  Document doc;
  if (ReadJsonFast(text, doc)) {
    doc.drawingSize = DrawingSize(doc);
    return doc;
  }
  return ReadJsonWithNlohmann(std::move(text), file);
}

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

void WriteJson(std::ostream& out, const Document& doc) {
  OutBuffer buffer(out);
  std::string& text = buffer.text();
  if (doc.objects.size() == 1 && !doc.multi) {
    text += '{';
    if (!doc.objects.front().name.empty()) text += "\"name\": " + QuotedName(doc.objects.front().name) + ", ";
    AppendSegments(buffer, doc.objects.front());
    text += "}\n";
  } else {
    text += "{\"objects\": [";
    bool first = true;
    for (const LineObject& object : doc.objects) {
      text += first ? "\n{\"name\": " : ",\n{\"name\": ";
      first = false;
      text += QuotedName(object.name);
      text += ", ";
      AppendSegments(buffer, object);
      text += '}';
    }
    text += doc.objects.empty() ? "]}\n" : "\n]}\n";
  }
  buffer.Flush();
}

}  // namespace korrand::io::detail
