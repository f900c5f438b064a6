// SVG writing. A document read from an SVG is written back as that document, with only the
// dashed shapes changed (WriteSvgInPlace below). Anything else (a JSON or OBJ drawing) becomes a
// new document: the dashes of each object as one stroked, unfilled path (one subpath per dash)
// in a <g> named after the object; with a preview, the original curves first, faint and thin,
// beneath. z is dropped (the drawing is the XY plane). The input's width/height/viewBox are
// kept; without them a viewBox is fitted around the drawing with a margin, y as is (SVG's y
// points down).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "format_detail.h"
#include "parallel.h"
#include "portable_math.h"
#include "svg_read.h"
#include "svg_save.h"
#include "svg_scene.h"
#include "svg_style.h"

namespace korrand::io::detail {
namespace {

constexpr const char* kPalette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\n':
            case '\r':
            case '\t':
                out += ' ';
                break;
            default:
                // Other control characters are not allowed in XML 1.0 at all.
                if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    return out;
}

std::string Number(double v) {
    std::string s;
    AppendDouble(s, v);
    return s;
}

struct Box {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    bool Empty() const { return x0 > x1; }
    void Grow(const Document& doc) {
        for (const LineObject& object : doc.objects)
            for (const auto& segment : object.segments)
                for (const Point& p : segment)
                    if (std::isfinite(p.x) && std::isfinite(p.y)) {
                        x0 = std::min(x0, p.x);
                        y0 = std::min(y0, p.y);
                        x1 = std::max(x1, p.x);
                        y1 = std::max(y1, p.y);
                    }
    }
};

bool ParseViewBoxSize(const std::string& text, double& diagonal) {
    double v[4];
    if (!detail::ParseViewBox(text, v)) return false;
    diagonal = math::Hypot(v[2], v[3]);
    return std::isfinite(diagonal);
}

// Path data for the segments: "M x y L x y x y ..." per segment, a new line per segment.
void AppendPathData(OutBuffer& buffer, const LineObject& object, bool closed) {
    std::string& out = buffer.text();
    for (const auto& segment : object.segments) {
        bool pen = false;  // a non-finite point lifts the pen
        std::size_t drawn = 0;
        for (const Point& p : segment) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
                pen = false;
                continue;
            }
            out += pen ? (drawn == 1 ? " L" : " ") : "\nM";
            AppendDouble(out, p.x);
            out += ' ';
            AppendDouble(out, p.y);
            drawn = pen ? drawn + 1 : 1;
            pen = true;
            buffer.MaybeFlush();
        }
        if (!pen) continue;
        if (closed && segment.size() > 1) {
            out += " Z";
        } else if (drawn == 1) {
            // A lone point: a zero-length line, which round caps draw as a dot.
            const Point& p = segment.back();
            out += " L";
            AppendDouble(out, p.x);
            out += ' ';
            AppendDouble(out, p.y);
        }
    }
}

void AppendGroupStart(std::string& out, const std::string& id, const char* stroke, double width) {
    out += "<g id=\"" + Escape(id) + "\" fill=\"none\" stroke=\"" + stroke + "\" stroke-width=\"" +
           Number(width) + "\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n";
}

void WriteSvgInPlace(std::ostream& out, const Document& doc, const WriteOptions& options);

// Where a dashed object's pieces are gathered on their way to path data.
struct PieceScratch {
    std::vector<Point> piece, kept;
};

void AppendObjectPathData(const SvgScene& scene, std::size_t o, const LineObject& dashed,
                          std::size_t start, PieceScratch& own, std::string& d,
                          WriteStats& counted);

}  // namespace

}  // namespace korrand::io::detail

namespace korrand::io {

bool WritesIntoOriginal(const Document& original, const Document& dashed) {
    return original.svgScene && original.svgScene->objects.size() == dashed.objects.size();
}

struct PathDataAhead::Made {
    struct Object {
        std::string d;
        int64_t dashes = 0, points = 0;
    };
    std::vector<Object> objects;
    // Written by one thread each, read after they have all finished.
    std::vector<char> taken;
};

PathDataAhead::PathDataAhead(const Document& original, Format out) : original_(original) {
    if (out != Format::Svg || !original.svgScene) return;
    made_ = std::make_unique<Made>();
    made_->objects.resize(original.svgScene->objects.size());
    made_->taken.assign(original.svgScene->objects.size(), 0);
}

PathDataAhead::~PathDataAhead() = default;

void PathDataAhead::Take(std::size_t o, LineObject& dashed) {
    if (!made_ || o >= made_->objects.size()) return;
    Made::Object& made = made_->objects[o];
    detail::PieceScratch scratch;
    WriteStats counted;
    detail::AppendObjectPathData(*original_.svgScene, o, dashed, 0, scratch, made.d, counted);
    made.dashes = counted.dashes;
    made.points = counted.points;
    made.d.shrink_to_fit();
    std::vector<std::vector<Point>>().swap(dashed.segments);
    made_->taken[o] = 1;
}

}  // namespace korrand::io

namespace korrand::io::detail {

void WriteSvg(std::ostream& out, const Document& doc, const WriteOptions& options) {
    if (options.original != nullptr && WritesIntoOriginal(*options.original, doc)) {
        WriteSvgInPlace(out, doc, options);
        return;
    }
    const Document* original = options.preview ? options.original : nullptr;
    // Size attributes: the dashed document's, else the original's (a host may carry either).
    const bool own = doc.svgWidth || doc.svgHeight || doc.svgViewBox;
    const Document& sizes = own || !options.original ? doc : *options.original;
    std::optional<std::string> width = sizes.svgWidth, height = sizes.svgHeight,
                               viewBox = sizes.svgViewBox;

    Box box;
    box.Grow(doc);
    if (original) box.Grow(*original);
    double size = 0;
    if (!(viewBox && ParseViewBoxSize(*viewBox, size))) {
        size = box.Empty() ? 0 : math::Hypot(box.x1 - box.x0, box.y1 - box.y0);
        if (!std::isfinite(size)) size = std::numeric_limits<double>::max() / 4;
    }
    if (!(size > 0)) size = 1;
    const double stroke = size * 0.004;

    if (!viewBox) {
        const double margin = 0.05 * size + stroke;
        const double x0 = box.Empty() ? 0 : box.x0 - margin, y0 = box.Empty() ? 0 : box.y0 - margin;
        const double w = box.Empty() ? 1 : box.x1 - box.x0 + 2 * margin;
        const double h = box.Empty() ? 1 : box.y1 - box.y0 + 2 * margin;
        viewBox = Number(x0) + " " + Number(y0) + " " + Number(w) + " " + Number(h);
        if (!width && !height) {
            // No size given anywhere: a picture about 800 px on its longer side.
            const double scale = 800 / std::max(w, h);
            width = Number(std::round(w * scale));
            height = Number(std::max(1.0, std::round(h * scale)));
        }
    }

    OutBuffer buffer(out);
    std::string& text = buffer.text();
    text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"";
    if (width) text += " width=\"" + Escape(*width) + "\"";
    if (height) text += " height=\"" + Escape(*height) + "\"";
    text += " viewBox=\"" + Escape(*viewBox) + "\">\n";

    if (original) {
        AppendGroupStart(text, "original curves", "#c8c8c8", stroke * 0.6);
        for (std::size_t i = 0; i < original->objects.size(); ++i) {
            const bool closed = i < doc.objects.size() && doc.objects[i].closed.value_or(true);
            text += "<path d=\"";
            AppendPathData(buffer, original->objects[i], closed);
            text += "\"/>\n";
        }
        text += "</g>\n";
    }
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        const LineObject& object = doc.objects[i];
        const std::string id =
            object.name.empty() ? "object " + std::to_string(i + 1) : object.name;
        AppendGroupStart(text, id, kPalette[i % std::size(kPalette)], stroke);
        text += "<path d=\"";
        AppendPathData(buffer, object, false);
        text += "\"/>\n</g>\n";
    }
    text += "</svg>\n";
    buffer.Flush();
}

namespace {

const xmlChar* X(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}

// Ids not yet in the document, made from a base: the base itself, else base-2, base-3, ...; each
// base remembers where its numbers went on, so thousands of shapes without an id of their own
// ("dashed-dashes") cost no more than one each.
class FreshIds {
public:
    explicit FreshIds(const Ids& taken) {
        ids_.reserve(taken.size());
        for (const auto& [id, node] : taken) ids_.insert(id);
    }
    std::string Make(const std::string& base) {
        if (ids_.insert(base).second) return base;
        for (int& n = next_.try_emplace(base, 2).first->second;; ++n)
            if (std::string id = base + "-" + std::to_string(n); ids_.insert(id).second) {
                ++n;
                return id;
            }
    }

private:
    std::unordered_set<std::string> ids_;
    std::unordered_map<std::string, int> next_;
};

void RemoveAttribute(xmlNode* node, const char* name) {
    if (xmlAttr* a = OwnAttribute(node, name)) xmlRemoveProp(a);
}

constexpr const char kSodipodiNamespace[] = "http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd";

bool OneOf(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name[0] == n[0] && std::strcmp(name, n) == 0) return true;
    return false;
}

using Declarations = std::vector<std::pair<std::string, std::string>>;

// What the tree holds as a dashed element's `d` until its path data is written.
const std::string kNoPathData;
const std::string kDashesMark = "dashes";
const std::string kOriginalMark = "original";  // kept beside its dashes for its fill or markers

// An element's style attribute edited: its dash array and offset go (the dashes are geometry
// now and nothing may dash them again) and `set` is declared. Made from the element as read,
// apart from the tree's edits, so that it can be made on any thread.
struct StyleEdit {
    bool remove = false;  // the attribute goes (left empty)
    std::string value;    // else its new value, when there is one
};
StyleEdit EditedStyle(const xmlNode* node, const Declarations& set) {
    StyleEdit edit;
    std::string storage;
    std::string_view style;
    const bool hasStyle = AttributeText(node, "style", storage, &style);
    if (!hasStyle && set.empty()) return edit;
    // A style left empty by the dash array's removal goes, and one set anew comes last.
    bool keptAny = false;
    edit.value = EditStyle(style, {"stroke-dasharray", "stroke-dashoffset"}, set, &keptAny);
    edit.remove = hasStyle && (!keptAny || edit.value.empty());
    return edit;
}

// Whether an attribute without a namespace goes from an element that draws dashes: its dash
// array and offset, and, as a path of its own, its pathLength and the geometry of its former kind
// (`becomesPath`).
bool GoesFromDashes(const char* name, bool becomesPath) {
    return OneOf(name, {"stroke-dasharray", "stroke-dashoffset", "pathLength"}) ||
           (becomesPath && OneOf(name, {"x", "y", "width", "height", "rx", "ry", "cx", "cy", "r",
                                        "x1", "y1", "x2", "y2", "points"}));
}

// Whether an element loses attribute `a` when edited: its dash array and offset, and its style
// when `style` says so. Drawing the dashes (`dashes`), it becomes a path without the geometry of
// its former kind (`becomesPath`) and without the editor attributes from which Inkscape rebuilds
// a shape when it opens the file (arcs, stars, spirals, offsets, live path effects, connectors,
// node types), which would bring the original back.
bool Drops(const xmlAttr* a, bool dashes, bool becomesPath, const StyleEdit& style) {
    const char* name = reinterpret_cast<const char*>(a->name);
    if (a->ns == nullptr)
        return (style.remove && std::strcmp(name, "style") == 0) ||
               (dashes ? GoesFromDashes(name, becomesPath)
                       : OneOf(name, {"stroke-dasharray", "stroke-dashoffset"}));
    if (!dashes || a->ns->href == nullptr) return false;
    const char* ns = reinterpret_cast<const char*>(a->ns->href);
    return (std::strcmp(ns, kSodipodiNamespace) == 0 &&
            OneOf(name, {"type",      "cx",         "cy",     "rx",       "ry", "start",    "end",
                         "open",      "arc-type",   "sides",  "r1",       "r2", "arg1",     "arg2",
                         "expansion", "revolution", "radius", "argument", "t0", "nodetypes"})) ||
           (std::strcmp(ns, kInkscapeNamespace) == 0 &&
            OneOf(name,
                  {"original-d", "path-effect", "flatsided", "rounded", "randomized", "original",
                   "radius", "href", "connector-type", "connection-start", "connection-end",
                   "connection-start-point", "connection-end-point", "connector-curvature"}));
}

bool BecomesPath(const xmlNode* node, bool dashes) {
    return dashes && std::strcmp(reinterpret_cast<const char*>(node->name), "path") != 0;
}

// One element's attributes edited in a single pass (Drops): drawing the dashes, it becomes a
// path whose `d` is left empty for the dashes' path data; its style is `style`.
void EditElement(xmlNode* node, bool dashes, const StyleEdit& style) {
    const bool becomesPath = BecomesPath(node, dashes);
    for (xmlAttr* a = node->properties; a != nullptr;) {
        xmlAttr* next = a->next;
        if (Drops(a, dashes, becomesPath, style)) xmlRemoveProp(a);
        a = next;
    }
    if (dashes) {
        if (becomesPath) xmlNodeSetName(node, X("path"));
        xmlSetProp(node, X("d"), X(kNoPathData.c_str()));
    }
    xmlSetProp(node, X(kMadeByKorrand), X((dashes ? kDashesMark : kOriginalMark).c_str()));
    if (!style.value.empty()) xmlSetProp(node, X("style"), X(style.value.c_str()));
}

// What EditElement(node, dashes, style) makes of `node`, for the printer to write without the
// tree being edited; or, with an `id`, what copying node's attributes into a new element of its
// name, giving it that id and editing that makes: the dashes drawn beside `node` (for an element
// whose attributes are all without a namespace: a copy would declare theirs anew on it). `style`
// and `id` are read as the document is written.
PrintedElement Printed(const xmlNode* node, bool dashes, const StyleEdit& style,
                       const std::string* id = nullptr) {
    const bool becomesPath = BecomesPath(node, dashes);
    PrintedElement element;
    element.ns = node->ns;
    element.name = becomesPath ? X("path") : node->name;
    std::size_t count = 4;  // room for those set anew: one allocation of the size it takes
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) ++count;
    element.attributes.reserve(count);
    bool hasId = false, hasD = false, hasStyle = false;
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        if (Drops(a, dashes, becomesPath, style)) continue;
        const char* name = reinterpret_cast<const char*>(a->name);
        PrintedElement::Attribute copy;
        if (a->ns != nullptr) {
            copy.copyOf = a;
        } else if (id != nullptr && std::strcmp(name, "id") == 0) {
            hasId = true;
            copy = {nullptr, "id", id, false};
        } else if (dashes && std::strcmp(name, "d") == 0) {
            hasD = true;
            copy = {nullptr, "d", nullptr, true};
        } else if (std::strcmp(name, "style") == 0 && !style.value.empty()) {
            hasStyle = true;
            copy = {nullptr, "style", &style.value, false};
        } else {
            copy.copyOf = a;
        }
        element.attributes.push_back(copy);
    }
    // Set where there was none, in the order they are set: id, d, the mark, style.
    if (id != nullptr && !hasId) element.attributes.push_back({nullptr, "id", id, false});
    if (dashes && !hasD) element.attributes.push_back({nullptr, "d", nullptr, true});
    element.attributes.push_back(
        {nullptr, kMadeByKorrand, dashes ? &kDashesMark : &kOriginalMark, false});
    if (!hasStyle && !style.value.empty())
        element.attributes.push_back({nullptr, "style", &style.value, false});
    return element;
}

bool HasNamespacedAttribute(const xmlNode* node) {
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
        if (a->ns != nullptr) return true;
    return false;
}

// The pieces of one object in the order they are written, a dash cut at a closed subpath's
// seam joined back into one piece (the piece that ends on the seam, then the one that starts
// there), so a pen lifts once. The two meet on the drawn outline whether the loop was measured
// closed or, by request, open with its closing edge. Each written piece is a chain of the
// dashed object's segments: its first one, then next[] until none.
struct Pieces {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> next, tail, size;
    std::vector<bool> written;

    Pieces(const LineObject& dashed, const SvgObject& source, double drawingSize) {
        const auto& segments = dashed.segments;
        const std::size_t n = segments.size();
        next.assign(n, kNone);
        written.assign(n, true);
        tail.resize(n);
        size.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            tail[i] = i;
            size[i] = segments[i].size();
        }
        for (const Vec2& seam : source.seams) {
            const double eps = SamePointTolerance(seam, drawingSize);
            const auto at = [&](const Point& p) { return Near({p.x, p.y}, seam, eps); };
            std::size_t ending = n, starting = n;
            for (std::size_t i = 0; i < n && (ending == n || starting == n); ++i) {
                if (!written[i] || size[i] < 2) continue;
                if (ending == n && at(segments[tail[i]].back())) ending = i;
                if (starting == n && at(segments[i].front())) starting = i;
            }
            if (ending == n || starting == n || ending == starting) continue;
            next[tail[ending]] = starting;
            tail[ending] = tail[starting];
            size[ending] += size[starting] - 1;
            written[starting] = false;
        }
    }

    // The points of the written piece that starts with segment `first`.
    void Gather(const LineObject& dashed, std::size_t first, std::vector<Point>& out) const {
        out.clear();
        for (std::size_t s = first; s != kNone; s = next[s]) {
            const auto& segment = dashed.segments[s];
            out.insert(out.end(), segment.begin() + (s == first ? 0 : 1), segment.end());
        }
    }
};

// Whether p lies within eps of the segment ab: squared distances, and the exact one only next
// to the bound.
bool WithinOfChord(const Point& p, const Point& a, const Point& b, double eps) {
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
    const double d2 = ex * ex + ey * ey, eps2 = eps * eps;
    if (d2 < eps2 * (1 - 1e-9)) return true;
    if (d2 > eps2 * (1 + 1e-9)) return false;
    return math::Hypot(ex, ey) <= eps;
}

// The piece without the interior points that lie within `eps` of the straight line drawn in
// their place: the plug-in samples every dash evenly, so a dash on a straight edge carries as
// many points as one across a tight corner. Each point kept is one of the piece's, and every
// point dropped lies within `eps` of the line that replaces it.
//
// The line from the last point kept to each next point is tried against every point between
// them, which on a long straight run is a square of the points. A run that is plainly straight
// is let through at once: in the frame of its first step, its points' spread across it bounds
// their distance from any chord whose foot falls between its ends, and where that bound is at
// most half of `eps` (far above the rounding of either test) each exact test would pass too.
void DropStraightPoints(const std::vector<Point>& piece, double eps, std::vector<Point>& kept) {
    kept.clear();
    const auto finite = [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); };
    if (piece.size() < 3 || !std::all_of(piece.begin(), piece.end(), finite)) {
        kept = piece;  // a lifted pen (a point that is not finite) is kept as it is
        return;
    }
    kept.push_back(piece.front());
    std::size_t anchor = 0;
    // The run from the anchor: the unit step u of its first edge (zero: no frame), and its
    // interior points' positions along u (from the anchor) and across it.
    double ux = 0, uy = 0, alongLow = 0, alongHigh = 0, across = 0;
    const auto startRun = [&] {
        const Point& a = piece[anchor];
        const double dx = piece[anchor + 1].x - a.x, dy = piece[anchor + 1].y - a.y;
        const double length = math::Hypot(dx, dy);
        ux = length > 0 ? dx / length : 0;
        uy = length > 0 ? dy / length : 0;
        alongLow = HUGE_VAL;
        alongHigh = -HUGE_VAL;
        across = 0;
    };
    startRun();
    for (std::size_t i = 2; i < piece.size(); ++i) {
        const Point& a = piece[anchor];
        {
            const double vx = piece[i - 1].x - a.x, vy = piece[i - 1].y - a.y;
            const double along = vx * ux + vy * uy;
            alongLow = std::min(alongLow, along);
            alongHigh = std::max(alongHigh, along);
            across = std::max(across, std::fabs(vx * -uy + vy * ux));
        }
        const double cx = piece[i].x - a.x, cy = piece[i].y - a.y;
        const double gamma = cx * ux + cy * uy, delta = std::fabs(cx * -uy + cy * ux);
        const double c2 = cx * cx + cy * cy;
        const double farthest = std::max(std::fabs(alongLow), std::fabs(alongHigh));
        const double scale = std::fabs(a.x) + std::fabs(a.y) + std::fabs(cx) + std::fabs(cy);
        // Every foot within the chord, every distance at most eps / 2, far above rounding.
        const bool plainlyStraight = (ux != 0 || uy != 0) && gamma > 0 && eps > 1e-12 * scale &&
                                     alongLow * gamma - across * delta > 1e-6 * c2 &&
                                     alongHigh * gamma + across * delta < (1 - 1e-6) * c2 &&
                                     gamma * across + delta * farthest <= 0.5 * eps * std::sqrt(c2);
        bool straight = true;
        if (!plainlyStraight)
            for (std::size_t k = anchor + 1; k < i && straight; ++k)
                straight = WithinOfChord(piece[k], piece[anchor], piece[i], eps);
        if (!straight) {
            anchor = i - 1;
            kept.push_back(piece[anchor]);
            startRun();
        }
    }
    kept.push_back(piece.back());
}

// A coordinate rounded to `decimals` places, trailing zeros dropped; shortest round-trip form
// when decimals < 0 or the fixed form would not fit.
void AppendCoordinate(std::string& out, double v, int decimals) {
    // The common case in integers: a product of moderate size rounds as the exact value does,
    // unless it lies next to a half, where to_chars decides. The digits are the same.
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (decimals >= 0 && decimals < 16) {
        const double scaled = v * kPow10[decimals];
        if (std::fabs(scaled) < 1e9) {
            const double whole = std::floor(scaled);
            const double fraction = scaled - whole;
            if (std::fabs(fraction - 0.5) > 1e-6) {
                const auto rounded = static_cast<int64_t>(fraction > 0.5 ? whole + 1 : whole);
                if (rounded == 0) {
                    out += '0';
                    return;
                }
                uint64_t magnitude = static_cast<uint64_t>(rounded < 0 ? -rounded : rounded);
                char digits[24];
                int n = 0;
                for (; magnitude != 0 || n <= decimals; magnitude /= 10)
                    digits[n++] = static_cast<char>('0' + magnitude % 10);
                // digits[] holds the number backwards; the last `decimals` of them are decimals.
                int last = 0;  // trailing zeros of the decimals go
                while (last < decimals && digits[last] == '0') ++last;
                char text[32];
                char* t = text;
                if (rounded < 0) *t++ = '-';
                for (int k = n - 1; k >= decimals; --k) *t++ = digits[k];
                if (last < decimals) {
                    *t++ = '.';
                    for (int k = decimals - 1; k >= last; --k) *t++ = digits[k];
                }
                out.append(text, static_cast<std::size_t>(t - text));
                return;
            }
        }
    }
    char buf[48];
    const auto r =
        decimals < 0 ? std::to_chars_result{nullptr, std::errc::value_too_large}
                     : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
        AppendDouble(out, v);
        return;
    }
    const char* end = r.ptr;
    if (std::memchr(buf, '.', static_cast<std::size_t>(end - buf)) != nullptr) {
        while (end[-1] == '0') --end;
        if (end[-1] == '.') --end;
    }
    if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') {
        out += '0';
        return;
    }
    out.append(buf, static_cast<std::size_t>(end - buf));
}

// The most a distance of a shape's user space grows on the page: the larger singular value.
double StretchOf(const Affine& toPage) {
    const double sum =
        toPage.a * toPage.a + toPage.b * toPage.b + toPage.c * toPage.c + toPage.d * toPage.d;
    const double det = toPage.Det();
    return std::sqrt((sum + std::sqrt(std::max(0.0, sum * sum - 4 * det * det))) / 2);
}

// Decimals for coordinates in a shape's user space: enough that rounding moves a point by at
// most `step` there (-1: every digit). A shape's coordinates keep a tenth of its tolerance on
// the page, and a dash's a hundredth of its length too: a tolerance coarser than the dashes
// (asked for, or a period far below the drawing's scale) would round them to other lengths, or
// to none.
int DecimalsFor(double step) {
    if (!(step > 0) || !std::isfinite(step)) return -1;
    // Rounding both coordinates to 10^-n moves a point by up to 0.71 * 10^-n.
    const double decimals = std::ceil(math::Log10(0.7072 / step));
    if (decimals > 17) return -1;
    return decimals < 0 ? 0 : static_cast<int>(decimals);
}

// Appends one piece to path data "M x y L x y x y ... M ...", in the shape's own user space;
// the path data began at d[start].
void AppendPiece(std::string& d, std::size_t start, const std::vector<Point>& piece,
                 const Affine& toUser, int decimals) {
    const auto append = [&](Vec2 q) {
        AppendCoordinate(d, q.x, decimals);
        d += ' ';
        AppendCoordinate(d, q.y, decimals);
    };
    std::size_t drawn = 0;
    for (const Point& p : piece) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            drawn = 0;  // a non-finite point lifts the pen
            continue;
        }
        d += drawn == 0 ? (d.size() == start ? "M" : " M") : (drawn == 1 ? " L" : " ");
        append(toUser({p.x, p.y}));
        ++drawn;
    }
    if (drawn == 1) {
        // A lone point: a zero-length line, which round caps draw as a dot.
        d += " L";
        append(toUser({piece.back().x, piece.back().y}));
    }
}

std::string MatrixText(const Affine& m) {
    std::string s = "matrix(";
    for (const double v : {m.a, m.b, m.c, m.d, m.e, m.f}) {
        if (s.back() != '(') s += ' ';
        AppendDouble(s, v);
    }
    return s + ")";
}

// Whether an element that is not dashed may paint, from `from` on, before the last of the
// `dashed` shapes: a page background in the figure's group (matplotlib, graphviz), a scan or
// photo traced over in an editor's layer, which would hide a layer put before it.
bool PaintsAmong(const xmlNode* from, const std::unordered_set<const xmlNode*>& dashed) {
    std::size_t left = dashed.size();
    for (const xmlNode* c = from; c != nullptr;) {
        const bool element = c->type == XML_ELEMENT_NODE && IsSvgElement(c);
        const std::string_view name = element ? reinterpret_cast<const char*>(c->name) : "";
        if (dashed.count(c) != 0) {
            if (--left == 0) return false;
        } else if (element && (IsShapeName(name) || name == "image" || name == "use" ||
                               name == "text" || name == "foreignObject")) {
            return true;
        } else if (c->children != nullptr &&
                   (name == "g" || name == "svg" || name == "a" || name == "switch")) {
            // Into groups and nested viewports only: what is defined draws nowhere here.
            c = c->children;
            continue;
        }
        while (c->next == nullptr && c->parent != nullptr && c->parent->type == XML_ELEMENT_NODE)
            c = c->parent;
        c = c->next;
    }
    return false;
}

// The original shapes, faint, in a layer of their own beneath the dashes: right before the
// top-level element that holds the first dashed shape. Where anything else may paint from there
// on before the last dashed shape, and hide the layer, or a shape is drawn through <use>, it goes
// on top instead and multiplies: drawn so, it looks as from beneath. Its label starts with '%',
// which plotting tools take as a layer not to draw.
void AddPreviewLayer(xmlDoc* doc, const SvgScene& scene, FreshIds& ids) {
    xmlNode* root = xmlDocGetRootElement(doc);
    xmlNode* before = nullptr;
    std::unordered_set<const xmlNode*> dashed;
    bool throughUse = false;  // drawn where a <use> stands, which may be anywhere
    for (const SvgShape& shape : scene.shapes) {
        throughUse |= shape.throughUse;
        if (shape.throughUse) continue;
        dashed.insert(shape.node);
        if (before != nullptr) continue;
        before = shape.node;
        while (before->parent != root) before = before->parent;
    }
    const bool onTop = throughUse || (before != nullptr && PaintsAmong(before, dashed));
    if (scene.shapes.empty()) return;
    // Every shape drawn through <use>: before the first element that draws.
    const auto draws = [](const xmlNode* c) {
        if (c->type != XML_ELEMENT_NODE || !IsSvgElement(c)) return false;
        for (const char* name : {"defs", "style", "title", "desc", "metadata", "script", "symbol"})
            if (std::strcmp(reinterpret_cast<const char*>(c->name), name) == 0) return false;
        return true;
    };
    for (xmlNode* c = root->children; c != nullptr && before == nullptr; c = c->next)
        if (draws(c)) before = c;
    xmlNs* inkscape = xmlSearchNsByHref(doc, root, X(kInkscapeNamespace));
    if (inkscape == nullptr) inkscape = xmlNewNs(root, X(kInkscapeNamespace), X("inkscape"));
    xmlNode* layer = xmlNewDocNode(doc, root->ns, X("g"), nullptr);
    xmlSetProp(layer, X("id"), X(ids.Make("korrand-preview").c_str()));
    if (inkscape != nullptr) {
        xmlSetNsProp(layer, inkscape, X("groupmode"), X("layer"));
        xmlSetNsProp(layer, inkscape, X("label"), X("% korrand preview"));
    }
    xmlSetProp(layer, X("opacity"), X("0.3"));
    if (onTop) xmlSetProp(layer, X("style"), X("mix-blend-mode:multiply"));
    for (const SvgShape& shape : scene.shapes) {
        // A shape drawn through <use> is copied where the instance it was measured in draws it.
        xmlNode* original = xmlDocCopyNode(shape.node, doc, 1);
        if (original == nullptr) throw std::bad_alloc();
        RemoveAttribute(original, "id");  // ids stay unique
        xmlSetProp(original, X(kMadeByKorrand), X("preview"));
        const SvgShape::Extra* extra = shape.extra.get();
        xmlSetProp(original, X("transform"),
                   X(MatrixText(extra != nullptr ? extra->previewAt : shape.toPage).c_str()));
        if (extra != nullptr && !extra->previewStyle.empty()) {
            std::string storage;
            std::string_view own;
            AttributeText(original, "style", storage, &own);
            xmlSetProp(original, X("style"), X(EditStyle(own, {}, extra->previewStyle).c_str()));
        }
        xmlAddChild(layer, original);
    }
    if (before != nullptr && !onTop)
        xmlAddPrevSibling(before, layer);
    else
        xmlAddChild(root, layer);
}

// The element that draws the dashes beside `node`, which keeps its fill or its markers, put in
// the tree right after it (before it, with `path.siblingFirst`): a new element in its namespace
// with copies of its attributes (copying the node itself would declare the namespace again on it),
// the path data left to the printer; `node` edited for what it keeps drawing.
xmlNode* AddDashesBeside(xmlDoc* tree, xmlNode* node, const std::string& id,
                         const StyleEdit& dashesStyle, const StyleEdit& originalStyle,
                         const NewPathData& path, NewPathDataOf& paths) {
    xmlNode* dashes = xmlNewDocNode(tree, node->ns, node->name, nullptr);
    if (dashes == nullptr) throw std::bad_alloc();
    xmlAttr* last = nullptr;
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        xmlAttr* copy =
            a->ns == nullptr && std::strcmp(reinterpret_cast<const char*>(a->name), "d") == 0
                ? xmlNewDocProp(tree, X("d"), X(""))
                : xmlCopyProp(dashes, const_cast<xmlAttr*>(a));
        if (copy == nullptr) throw std::bad_alloc();
        copy->parent = dashes;
        copy->prev = last;
        (last == nullptr ? dashes->properties : last->next) = copy;
        last = copy;
    }
    xmlSetProp(dashes, X("id"), X(id.c_str()));
    EditElement(dashes, true, dashesStyle);
    paths.Mark(dashes, path);
    EditElement(node, false, originalStyle);
    if (path.siblingFirst)
        xmlAddPrevSibling(node, dashes);
    else
        xmlAddNextSibling(node, dashes);
    return dashes;
}

// An original kept only for its geometry, put out of sight where it stands (what refers to it
// finds it by its id, and takes nothing from its ancestors; unless a style sheet's rules would
// match it otherwise there, the caller sees to that). Inside a <defs> already, it stays.
void HideInDefs(xmlDoc* tree, xmlNode* node) {
    for (const xmlNode* a = node->parent; a != nullptr && a->type == XML_ELEMENT_NODE;
         a = a->parent)
        if (Is(a, "defs")) return;
    xmlNode* defs = xmlNewDocNode(tree, node->ns, X("defs"), nullptr);
    if (defs == nullptr) throw std::bad_alloc();
    xmlReplaceNode(node, defs);
    xmlAddChild(defs, node);
}

// A <switch> draws only the first of its children whose conditions hold: an element there and
// the one beside it drawing its dashes go into a group that takes its conditions.
void GroupInSwitch(xmlDoc* tree, xmlNode* node, xmlNode* beside) {
    if (node->parent == nullptr || !Is(node->parent, "switch")) return;
    xmlNode* group = xmlNewDocNode(tree, node->ns, X("g"), nullptr);
    if (group == nullptr) throw std::bad_alloc();
    for (const char* condition : {"requiredFeatures", "requiredExtensions", "systemLanguage"})
        if (std::string value; GetAttribute(node, condition, &value))
            xmlSetProp(group, X(condition), X(value.c_str()));
    const bool besideFirst = beside->next == node;  // as they stood
    xmlAddPrevSibling(node, group);
    xmlUnlinkNode(node);
    xmlUnlinkNode(beside);
    xmlAddChild(group, besideFirst ? beside : node);
    xmlAddChild(group, besideFirst ? node : beside);
}

// The <use>s that must draw a kept original's dashes sibling: each gets a twin beside it that
// draws the sibling with the <use>'s own attributes. A <use> of a <use> so twinned draws only
// what that one draws, and so does a <use> the walk does not enter (in a <pattern>, a <marker>,
// another selection): they are twinned too, found by what they refer to. A clip path's <use>s
// take only the geometry, which the original keeps.
class UseTwins {
public:
    UseTwins(xmlDoc* tree, const SvgScene& scene, FreshIds& ids)
        : tree_(tree), scene_(scene), ids_(ids) {}

    // How the dashes go beside what a <use> draws. `first`: the twin goes before the <use>,
    // its stroke painted before what the <use> draws. `instead`: the original draws nothing
    // any more (it stays only for its geometry), so the <use> itself draws the dashes.
    struct Placing {
        bool first = false, instead = false;
    };

    // `node`, whose id is `id`, now draws without its dashes; `dashesId` draws them.
    void Drawn(const xmlNode* node, const std::string& id, const std::string& dashesId,
               Placing placing) {
        if (scene_.useTargets.count(id) != 0) drawn_.push_back({node, id, dashesId, placing});
    }

    void Add(xmlNode* use, const std::string& dashesId, Placing placing) {
        if (!twinned_.insert(use).second) return;
        const std::string ref = "#" + dashesId;
        if (placing.instead) {  // what refers to this <use> then draws the dashes too
            SetHref(use, ref);
            return;
        }
        xmlNode* twin = xmlNewDocNode(tree_, use->ns, use->name, nullptr);
        if (twin == nullptr) throw std::bad_alloc();
        twin->properties = xmlCopyPropList(twin, use->properties);
        SetHref(twin, ref);
        std::string useId;
        if (GetAttribute(twin, "id", &useId) && !useId.empty()) {
            const std::string twinId = ids_.Make(useId + "-dashes");
            xmlSetProp(twin, X("id"), X(twinId.c_str()));
            Drawn(use, useId, twinId, placing);
        }
        if (placing.first)
            xmlAddPrevSibling(use, twin);
        else
            xmlAddNextSibling(use, twin);
        GroupInSwitch(tree_, use, twin);
    }

    // The rest, in one walk of the document: a twin's <use> may itself be referred to.
    void AddForTheRest() {
        if (drawn_.empty()) return;
        Index(xmlDocGetRootElement(tree_));
        for (std::size_t i = 0; i < drawn_.size(); ++i) {  // grows as twins are made
            const Apart apart = drawn_[i];
            // A reference finds the first element of an id: another one of it draws something
            // else.
            const auto first = first_.find(apart.id);
            const auto uses = usesOf_.find(apart.id);
            if (first == first_.end() || first->second != apart.node || uses == usesOf_.end())
                continue;
            for (xmlNode* use : uses->second) Add(use, apart.dashesId, apart.placing);
        }
    }

private:
    struct Apart {
        const xmlNode* node;
        std::string id, dashesId;
        Placing placing;
    };

    static void SetHref(xmlNode* use, const std::string& ref) {
        for (xmlAttr* a = use->properties; a != nullptr; a = a->next)
            if (std::strcmp(reinterpret_cast<const char*>(a->name), "href") == 0)
                xmlNodeSetContent(reinterpret_cast<xmlNode*>(a), X(ref.c_str()));
    }

    void Index(xmlNode* node, bool inClip = false) {
        for (; node != nullptr; node = node->next) {
            if (node->type != XML_ELEMENT_NODE) continue;
            std::string text;
            if (GetAttribute(node, "id", &text)) first_.emplace(text, node);
            if (!inClip && Is(node, "use") &&
                (GetNsAttribute(node, "href", kXlinkNamespace, &text) ||
                 GetAttribute(node, "href", &text)) &&
                text.size() > 1 && text[0] == '#')
                usesOf_[text.substr(1)].push_back(node);
            Index(node->children, inClip || Is(node, "clipPath"));
        }
    }

    xmlDoc* tree_;
    const SvgScene& scene_;
    FreshIds& ids_;
    std::vector<Apart> drawn_;
    std::unordered_set<const xmlNode*> twinned_;
    std::unordered_map<std::string, const xmlNode*> first_;
    std::unordered_map<std::string, std::vector<xmlNode*>> usesOf_;
};

double ShapeTolerance(const SvgScene& scene, const SvgShape& shape) {
    return shape.tolerance > 0 ? shape.tolerance : scene.tolerance;
}

// Object `o`'s pieces appended to its shape's path data `d`, which began at `start`, in the
// shape's own user space. What a straight line stands for is dropped to the precision the
// coordinates are written with (a tenth of the tolerance).
void AppendObjectPathData(const SvgScene& scene, std::size_t o, const LineObject& dashed,
                          std::size_t start, PieceScratch& own, std::string& d,
                          WriteStats& counted) {
    const SvgShape& shape = scene.shapes[scene.objects[o].shape];
    const Affine toUser = shape.toPage.Inverse();
    const double tolerance = ShapeTolerance(scene, shape);
    const double stretch = StretchOf(shape.toPage);
    const int decimals = DecimalsFor(tolerance / 10 / stretch);
    const Pieces pieces(dashed, scene.objects[o], scene.drawingSize);
    for (std::size_t first = 0; first < dashed.segments.size(); ++first) {
        if (!pieces.written[first]) continue;
        pieces.Gather(dashed, first, own.piece);
        DropStraightPoints(own.piece, tolerance / 10, own.kept);
        ++counted.dashes;
        counted.points += static_cast<int64_t>(own.kept.size());
        // Its length on the page within a factor of sqrt(2) (steps as |dx| + |dy|).
        double length = 0;
        for (std::size_t k = 1; k < own.kept.size(); ++k)
            length += std::fabs(own.kept[k].x - own.kept[k - 1].x) +
                      std::fabs(own.kept[k].y - own.kept[k - 1].y);
        AppendPiece(d, start, own.kept, toUser,
                    length / 100 < tolerance / 10 ? DecimalsFor(length / 100 / stretch) : decimals);
    }
}

void WriteSvgInPlace(std::ostream& out, const Document& doc, const WriteOptions& options) {
    const SvgScene& scene = *options.original->svgScene;
    // The document is edited where it is: a copy of a large drawing's tree would double the
    // memory it takes and cost as much time as reading it.
    if (scene.writtenBack)
        throw std::logic_error("an SVG document read once is written back in place once");
    scene.writtenBack = true;
    xmlDoc* tree = scene.doc;
    FreshIds ids(scene.ids);

    if (options.preview) AddPreviewLayer(tree, scene, ids);
    // Each shape's objects follow one another, from firstObject[s] on.
    std::vector<std::size_t> firstObject(scene.shapes.size() + 1, doc.objects.size());
    for (std::size_t o = doc.objects.size(); o-- > 0;) firstObject[scene.objects[o].shape] = o;
    for (std::size_t s = scene.shapes.size(); s-- > 0;)
        firstObject[s] = std::min(firstObject[s], firstObject[s + 1]);
    // A shape's path data: its objects' pieces (made ahead where they were taken as dashed),
    // then its dots. Counted per thread, added up at the end.
    struct Scratch {
        PieceScratch pieces;
        WriteStats counted;
    };
    std::vector<Scratch> scratch(kMaxThreads);
    PathDataAhead::Made* ahead =
        options.ahead != nullptr ? options.ahead->MadeFor(options.original) : nullptr;
    const auto writePathData = [&](std::size_t s, unsigned thread, std::string& d) {
        Scratch& own = scratch[thread];
        const SvgShape& shape = scene.shapes[s];
        const std::size_t start = d.size();
        for (std::size_t o = firstObject[s]; o < firstObject[s + 1]; ++o) {
            if (ahead != nullptr && ahead->taken[o]) {
                PathDataAhead::Made::Object& made = ahead->objects[o];
                if (!made.d.empty()) {
                    if (d.size() != start) d += ' ';
                    d += made.d;
                }
                std::string().swap(made.d);
                own.counted.dashes += made.dashes;
                own.counted.points += made.points;
            } else {
                AppendObjectPathData(scene, o, doc.objects[o], start, own.pieces, d, own.counted);
            }
        }
        if (!shape.dots.empty()) {
            const double tolerance = ShapeTolerance(scene, shape);
            const int decimals = DecimalsFor(tolerance / 10 / StretchOf(shape.toPage));
            const Affine toUser = shape.toPage.Inverse();
            for (const Point& dot : shape.dots) {
                own.pieces.piece.assign(1, dot);
                own.counted.points += 2;  // written as a line of no length
                AppendPiece(d, start, own.pieces.piece, toUser, decimals);
            }
        }
        const auto written = static_cast<int64_t>(d.size() - start);
        own.counted.longestPathData = std::max(own.counted.longestPathData, written);
        if (written >= kLongPathData) own.counted.longPathData += written;
    };
    // Each shape's edits: where the original stays beside its dashes (for its fill or its
    // markers), and the style of each, made from the document as read, on a few threads.
    struct Edit {
        bool sibling = false;
        bool first = false;  // the dashes go before the original
        // The original draws nothing any more, kept only for the geometry something else uses
        // (a clip path, text along it): out of sight in a <defs>, where plotting tools do not
        // draw it either.
        bool hidden = false;
        StyleEdit dashes, original;
        // Unless libxml2 prints the document, the printer writes the edited element (`self`)
        // and the dashes beside an original (`beside`, given `besideId` in the document's order)
        // without the tree being edited; an original with attributes in a namespace, and its
        // dashes, are still edited and copied in the tree.
        std::optional<PrintedElement> self, beside;
        std::string besideId;
    };
    const bool printed = !SavedByLibxml(tree);
    std::vector<Edit> edits(scene.shapes.size());
    ForEachInParallel(
        scene.shapes.size(), ThreadsFor(scene.shapes.size(), 256), 64,
        [&](std::size_t s, unsigned) {
            const SvgShape& shape = scene.shapes[s];
            // What is set wins over a style sheet's !important declarations of the same
            // property.
            const auto decl = [&](const char* name, const std::string& value) {
                return std::make_pair(std::string(name), scene.importantProperties.count(name) != 0
                                                             ? value + " !important"
                                                             : value);
            };
            const bool keepFill = shape.keepFill && options.keepFills;
            const bool keepMarkers = shape.markers && options.keepMarkers;
            // The dashes: no fill (open pieces would be filled across), no markers (they would
            // repeat on every dash), the outline's paint, not dashed again.
            const bool sibling = keepFill || keepMarkers || shape.geometryUsed ||
                                 (shape.paintedApart && options.keepFills);
            // Drawn by <use>s of their own strokes, the dashes take each one's.
            const bool ownStroke = shape.extra != nullptr && !shape.extra->stroke.empty() &&
                                   !shape.throughUse && shape.uses.empty() &&
                                   (sibling || BecomesPath(shape.node, true));
            // A <path> where the original was another element, or an element beside it, may
            // match a rule that gives paths a dash array or markers.
            const bool newPath =
                scene.sheetDashesOrMarks && (sibling || BecomesPath(shape.node, true));
            Declarations dashStyle;
            // Beside the original, <use>s that fill it draw the dashes too (their twins).
            if (shape.keepFill || sibling || ownStroke) dashStyle.push_back(decl("fill", "none"));
            if (shape.markers || keepFill || keepMarkers || newPath)
                for (const char* marker : {"marker-start", "marker-mid", "marker-end"})
                    dashStyle.push_back(decl(marker, "none"));
            if (shape.extra != nullptr && !shape.extra->outlinePaint.empty())
                dashStyle.push_back(decl("stroke", shape.extra->outlinePaint));
            else if (ownStroke)
                // Another element than the one the style sheet's rules matched.
                for (const auto& [name, value] : shape.extra->stroke)
                    dashStyle.push_back(decl(name.c_str(), value));
            if (shape.outlineOpaque) dashStyle.push_back(decl("stroke-opacity", "1"));
            if (shape.dashedBesidesOwn || newPath)
                dashStyle.push_back(decl("stroke-dasharray", "none"));
            Edit& edit = edits[s];
            edit.dashes = EditedStyle(shape.node, dashStyle);
            edit.sibling = sibling;
            // Beside what the original keeps drawing, in its paint-order (by the fill where it
            // keeps both: normally the markers would go above the dashes, which two elements
            // cannot give).
            const bool fillKept = keepFill || (shape.paintedApart && options.keepFills);
            edit.first =
                fillKept ? shape.strokeBeforeFill : keepMarkers && shape.strokeBeforeMarkers;
            edit.hidden = !fillKept && !keepMarkers;
            // Put in the tree, not only printed: a <switch>'s child is grouped with its dashes,
            // an original kept only for its geometry goes out of sight.
            const bool inTree = (edit.hidden && !scene.sheetMatchesByParent) ||
                                (shape.node->parent != nullptr && Is(shape.node->parent, "switch"));
            if (!edit.sibling) {
                if (!printed) return;
                edit.self = Printed(shape.node, true, edit.dashes);
                // The printer writes the dashes' path data in place of the element's own, which
                // goes now: room for what comes. (Freeing reads the document's dictionary, which
                // nothing changes here.)
                if (xmlAttr* d = OwnAttribute(shape.node, "d")) {
                    xmlFreeNodeList(d->children);
                    d->children = d->last = nullptr;
                }
                return;
            }
            // A marker painted with context-stroke takes the original's stroke paint: with
            // markers the stroke is hidden by its opacity, so the paint is still there for them.
            Declarations originalStyle = {keepMarkers ? decl("stroke-opacity", "0")
                                                      : decl("stroke", "none")};
            if (shape.keepFill && !keepFill) originalStyle.push_back(decl("fill", "none"));
            edit.original = EditedStyle(shape.node, originalStyle);
            if (printed && !HasNamespacedAttribute(shape.node) && !inTree) {
                edit.self = Printed(shape.node, false, edit.original);
                edit.beside = Printed(shape.node, true, edit.dashes, &edit.besideId);
            }
        });
    // The elements that draw the dashes: their path data is made as the document is written.
    NewPathDataOf paths;
    UseTwins twins(tree, scene, ids);
    for (std::size_t s = 0; s < scene.shapes.size(); ++s) {
        const SvgShape& shape = scene.shapes[s];
        xmlNode* node = shape.node;
        NewPathData path{s, 0};
        path.siblingFirst = edits[s].first;
        for (std::size_t o = firstObject[s]; o < firstObject[s + 1]; ++o) {
            if (ahead != nullptr && ahead->taken[o]) path.weight += ahead->objects[o].d.size() / 16;
            for (const auto& segment : doc.objects[o].segments) path.weight += segment.size();
        }
        Edit& edit = edits[s];
        if (!edit.sibling) {
            if (edit.self) {
                path.self = &*edit.self;
            } else {
                EditElement(node, true, edit.dashes);
            }
            paths.Mark(node, path);
            continue;
        }
        // The original keeps drawing the fill or the markers; a sibling right after it draws the
        // dashes.
        std::string id;
        if (!GetAttribute(node, "id", &id) || id.empty()) id = "dashed";
        const std::string dashesId = ids.Make(id + "-dashes");
        if (edit.beside) {
            edit.besideId = dashesId;
            paths.Mark(node, {path.shape, path.weight, &*edit.beside, &*edit.self, edit.first});
        } else {
            GroupInSwitch(
                tree, node,
                AddDashesBeside(tree, node, dashesId, edit.dashes, edit.original, path, paths));
            if (edit.hidden && !scene.sheetMatchesByParent) HideInDefs(tree, node);
        }
        // A <use> of this very shape draws only the fill or markers now: a twin beside it draws
        // the dashes (or, where the shape draws nothing, the <use> draws them itself).
        // With fills dropped, a <use> draws no fill of its own that the original would take.
        const UseTwins::Placing placing{edit.first, edit.hidden && !options.keepFills};
        if (GetAttribute(node, "id", &id) && !id.empty()) twins.Drawn(node, id, dashesId, placing);
        for (xmlNode* use : shape.uses) twins.Add(use, dashesId, placing);
    }
    twins.AddForTheRest();

    // Always UTF-8, declared as such: the text is the same whatever the input's encoding, and
    // some encodings libxml2 reads (UTF-7) it cannot read back once it has written them.
    if (!SaveDocument(out, tree, scene.hasDeclaration, paths, writePathData)) {
        // Printed by libxml2 itself: the path data goes into the tree first.
        std::vector<std::pair<std::size_t, xmlNode*>> byShape;
        for (const auto& [node, path] : paths)
            byShape.emplace_back(path.shape, const_cast<xmlNode*>(node));
        std::sort(byShape.begin(), byShape.end());
        for (const auto& [s, node] : byShape) {
            std::string d;
            writePathData(s, 0, d);
            xmlSetProp(node, X("d"), X(d.c_str()));
        }
        LibxmlSave(out, tree, scene.hasDeclaration);
    }
    if (options.stats != nullptr) {
        *options.stats = WriteStats{true, 0, 0, 0, 0};
        for (const Scratch& own : scratch) {
            options.stats->dashes += own.counted.dashes;
            options.stats->points += own.counted.points;
            options.stats->longestPathData =
                std::max(options.stats->longestPathData, own.counted.longestPathData);
            options.stats->longPathData += own.counted.longPathData;
        }
    }
}

}  // namespace
}  // namespace korrand::io::detail
