// JSON writing: one object as {"name": ..., "parameters": ..., "segments": ...}, several as
// {"objects": [...]}, coordinates in shortest round-trip form so a file reads back bit for bit.
#include <cmath>
#include <ostream>

#include <nlohmann/json.hpp>

#include "format_detail.h"

namespace korrand::io::detail {
namespace {

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

// "parameters": {...}, as they were read: integers and booleans as such, reals in shortest
// round-trip form that still reads as a real.
void AppendParameters(std::string& out, const LineObject& object) {
    if (object.parameters.empty()) return;
    out += "\"parameters\": {";
    bool first = true;
    for (const StoredParameter& p : object.parameters) {
        out += first ? "" : ", ";
        first = false;
        out += QuotedName(p.key);
        out += ": ";
        switch (p.value.kind) {
            case StoredValue::Kind::Integer:
                out += std::to_string(p.value.integer);
                break;
            case StoredValue::Kind::Boolean:
                out += p.value.boolean ? "true" : "false";
                break;
            case StoredValue::Kind::Real: {
                const std::size_t at = out.size();
                AppendCoordinate(out, p.value.real);
                if (out.find_first_of(".eEn", at) == std::string::npos) out += ".0";
                break;
            }
        }
    }
    out += "}, ";
}

}  // namespace

void WriteJson(std::ostream& out, const Document& doc) {
    OutBuffer buffer(out);
    std::string& text = buffer.text();
    if (doc.objects.size() == 1 && !doc.multi) {
        text += '{';
        if (!doc.objects.front().name.empty())
            text += "\"name\": " + QuotedName(doc.objects.front().name) + ", ";
        AppendParameters(text, doc.objects.front());
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
            AppendParameters(text, object);
            AppendSegments(buffer, object);
            text += '}';
        }
        text += doc.objects.empty() ? "]}\n" : "\n]}\n";
    }
    buffer.Flush();
}

}  // namespace korrand::io::detail
