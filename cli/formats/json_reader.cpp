// JSON reading: {"segments": [[[x, y, z], ...], ...]}, or {"objects": [{"name": ...,
// "parameters": {...}, "segments": ...}, ...]}. A strict fast path reads exactly the schema; the
// general path of json_validator.cpp decides everything else, with its messages.
#include <charconv>
#include <string>

#include "format_detail.h"

namespace korrand::io::detail {
namespace {

class FastJson {
public:
    FastJson(const std::string& text, Document& doc)
        : p_(text.data()), end_(text.data() + text.size()), doc_(doc) {}

    bool Parse() {
        Space();
        if (!Eat('{')) return false;
        bool segments = false, objects = false, name = false, parameters = false;
        std::string singleName;
        std::vector<StoredParameter> singleParameters;
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
                } else if (key == "parameters" && !parameters) {
                    parameters = true;
                    if (!Parameters(singleParameters)) return false;
                } else {
                    return false;
                }
                Space();
            } while (Eat(','));
            if (!Eat('}')) return false;
        }
        Space();
        if (p_ != end_ || (!segments && !objects) || (objects && parameters)) return false;
        if (segments) {
            doc_.objects.front().name = std::move(singleName);
            doc_.objects.front().parameters = std::move(singleParameters);
        }
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
        bool integer = false;
        return Number(value, integer);
    }
    bool Number(double& value, bool& integer) {
        const char* start = p_;
        Eat('-');
        if (p_ == end_) return false;
        integer = true;
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
        if (result.ec != std::errc() || result.ptr != p_)
            return false;                      // out of range: let nlohmann judge
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
    // {"NAME": number or boolean, ...}: integers as integers, other numbers as reals. Anything
    // else (a duplicate name, a value of another type, an integer beyond 64 bits) is for the
    // general path to judge.
    bool Parameters(std::vector<StoredParameter>& out) {
        if (!Eat('{')) return false;
        Space();
        if (Eat('}')) return true;
        do {
            Space();
            StoredParameter p;
            if (!String(p.key) || !Colon()) return false;
            for (const StoredParameter& q : out)
                if (q.key == p.key) return false;
            if (Literal("true") || Literal("false")) {
                p.value.kind = StoredValue::Kind::Boolean;
                p.value.boolean = p_[-1] == 'e' && p_[-2] == 'u';
            } else {
                const char* start = p_;
                bool integer = false;
                if (!Number(p.value.real, integer)) return false;
                if (integer) {
                    const auto result = std::from_chars(start, p_, p.value.integer);
                    if (result.ec != std::errc() || result.ptr != p_) return false;
                    p.value.kind = StoredValue::Kind::Integer;
                    p.value.real = 0;
                } else {
                    p.value.kind = StoredValue::Kind::Real;
                }
            }
            out.push_back(std::move(p));
            Space();
        } while (Eat(','));
        return Eat('}');
    }
    bool Literal(const char* word) {
        const std::size_t n = std::char_traits<char>::length(word);
        if (static_cast<std::size_t>(end_ - p_) < n ||
            std::char_traits<char>::compare(p_, word, n) != 0)
            return false;
        p_ += n;
        return true;
    }
    bool Objects() {
        return List([&] {
            if (!Eat('{')) return false;
            LineObject& object = doc_.objects.emplace_back();
            bool segments = false, name = false, parameters = false;
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
                } else if (key == "parameters" && !parameters) {
                    parameters = true;
                    if (!Parameters(object.parameters)) return false;
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

}  // namespace korrand::io::detail
