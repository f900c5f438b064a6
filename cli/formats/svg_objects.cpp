// The line objects built from the shapes found: each subpath flattened into one segment in the
// root's user space, grouped into line objects by the rule every host follows (segment_groups.h),
// each telling the modifier whether to measure it closed; with a period every subpath is an
// object of its own, with the count the period gives it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string_view>
#include <unordered_set>

#include "parameter_value.h"
#include "portable_math.h"
#include "segment_groups.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

// One subpath flattened into a segment, in the root's user space: repeated points dropped, a
// closed loop ending on its last distinct point, or, measured open by request, on its start
// again. False for a point that is not finite once flattened. `room`: the points the file may
// still flatten to; past it, `tooMany` is set.
bool SegmentOf(const Subpath& subpath, const Flattening& flattening,
               std::optional<bool> forcedClosed, std::size_t room, std::vector<Vec2>& points,
               std::vector<Point>& segment, bool& tooMany) {
    points.clear();
    segment.clear();
    tooMany = !Flatten(subpath, flattening.tolerance, points, room);
    if (tooMany) return true;
    // An ellipse can reach past the largest double even when its centre and axes do not.
    if (!std::all_of(points.begin(), points.end(),
                     [](Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }))
        return false;
    const double eps = SamePointTolerance(subpath.start, flattening.size);
    segment.reserve(points.size() + 1);
    for (const Vec2& p : points)
        if (segment.empty() || !Near({segment.back().x, segment.back().y}, p, eps))
            segment.push_back({p.x, p.y, 0});
    const auto endsAtStart = [&] {
        return segment.size() > 1 && Near({segment.back().x, segment.back().y},
                                          {segment.front().x, segment.front().y}, eps);
    };
    if (subpath.closed && forcedClosed == std::optional<bool>(false)) {
        // Measured open by request: the closing edge must be there to be dashed.
        if (segment.size() > 1 && !endsAtStart()) segment.push_back(segment.front());
    } else if (subpath.closed && endsAtStart()) {
        segment.pop_back();  // a closed loop ends on its last distinct point
    }
    return true;
}

// Dashes a period asks for on a segment: one per period of its length, at least one.
int64_t PeriodCount(const std::vector<Point>& segment, bool closed, double period) {
    return hostmodel::PeriodCount(PageLength(segment, closed), period);
}

// How a shape's subpaths are dashed with a period, on the page: one dash and its gap per
// `period`, the pattern moved on by `offset` (its own dash array's with stroke-dashoffset).
struct Rhythm {
    double period = 0, offset = 0;
    // A dash array under a transform that stretches or skews: the array's period in the shape's
    // own user space, where a viewer lays it out, and the way back there from the page.
    double userPeriod = 0;
    Affine toUser;
};

// Whether `m` scales every direction alike (a rotation, a uniform scale, a reflection).
bool Similar(const Affine& m) {
    const double x = m.a * m.a + m.b * m.b, y = m.c * m.c + m.d * m.d;
    return std::fabs(x - y) <= 1e-9 * (x + y) && std::fabs(m.a * m.c + m.b * m.d) <= 1e-9 * (x + y);
}

// A segment's length in the shape's user space (`toUser`: from the page there).
double UserLength(const std::vector<Point>& segment, bool closed, const Affine& toUser) {
    double length = 0;
    const auto edge = [&](const Point& p, const Point& q) {
        const Vec2 v = toUser.Linear(Vec2{q.x - p.x, q.y - p.y});
        length += math::Hypot(v.x, v.y);
    };
    for (std::size_t i = 1; i < segment.size(); ++i) edge(segment[i - 1], segment[i]);
    if (closed && segment.size() > 1) edge(segment.back(), segment.front());
    return length;
}

// Dashes a period asks for on a segment measured in the shape's user space.
int64_t UserPeriodCount(const std::vector<Point>& segment, bool closed, const Rhythm& rhythm) {
    return hostmodel::PeriodCount(UserLength(segment, closed, rhythm.toUser), rhythm.userPeriod);
}

// The shape's own dash array on the page, where that is asked for and a viewer dashes with it,
// else the period given (none: 0). `length`: the shape's whole length on the page, which its
// pathLength stands for.
Rhythm RhythmFor(const ReadContext& context, const FoundShape& shape, double length) {
    const double toPage = std::sqrt(std::fabs(shape.toPage.Det()));
    if (context.options.periodFromDasharray) {
        // A non-scaling stroke's array is in the outermost viewport's px, as a viewer lays it
        // out on the screen, whatever the transforms; under a stretch or a skew, it is laid out
        // in the shape's user space, and measured there.
        const bool screen = shape.style.nonScalingStroke;
        const bool stretched =
            !screen && !Similar(shape.toPage) && toPage > 0 && std::isfinite(toPage);
        const Affine toUser = stretched ? shape.toPage.Inverse() : Affine{};
        // pathLength rescales every distance along the shape: its units are so many of these.
        double scale = 1, declared = 0;
        std::string text;
        char* end = nullptr;
        if (GetAttribute(shape.node, "pathLength", &text) &&
            (declared = std::strtod(text.c_str(), &end), end != text.c_str()) && declared > 0 &&
            std::isfinite(declared) && length > 0) {
            double userLength = length / toPage;
            if (stretched) {
                userLength = 0;
                for (const auto& [segment, closed] : shape.segments)
                    userLength += UserLength(segment, closed, toUser);
            }
            scale = userLength / declared;
        }
        const DashPattern own = ResolveDashes(shape.style, shape.percentBase, screen ? 1 : scale);
        const double onPage = screen ? context.page.unitsPerPx : toPage;
        Rhythm rhythm;
        rhythm.period = own.period * onPage;
        rhythm.offset = own.offset * onPage;
        if (own.kind == DashPattern::Kind::Dashed && std::isfinite(rhythm.period) &&
            rhythm.period > 0 && std::isfinite(rhythm.offset)) {
            if (stretched) {
                rhythm.userPeriod = own.period;
                rhythm.toUser = toUser;
            }
            return rhythm;
        }
    }
    const double period = context.options.period * context.page.unitsPerPx;
    Rhythm given;
    given.period = std::isfinite(period) && period > 0 ? period : 0;
    return given;
}

// The modifier's Offset, in whole segments, that moves its dashes as stroke-dashoffset moves a
// viewer's: the pattern starts `offset` into its rhythm, so the dashes move back along the
// subpath by that fraction of one of its `count` rhythms (the plug-in wraps the rest).
double OffsetFor(const Rhythm& rhythm, int64_t count) {
    const double phase = rhythm.offset / rhythm.period;
    const double fraction = phase - std::floor(phase);
    return fraction > 0 && count > 0 ? -fraction / static_cast<double>(count) : 0;
}

// What the writer needs to know of a dashed shape (but the <use>s that draw it).
SvgShape KeptShape(const FoundShape& shape) {
    const ComputedStyle& style = shape.style;
    SvgShape kept;
    kept.node = shape.node;
    kept.toPage = shape.toPage;
    kept.tolerance = shape.tolerance;
    kept.keepFill = PaintsFill(style) && shape.enclosesArea;  // a line has no area
    kept.throughUse = shape.throughUse;
    kept.dots = shape.dots;
    // Markers are drawn on paths, lines, polylines and polygons only.
    kept.markers = shape.tag != "rect" && shape.tag != "circle" && shape.tag != "ellipse" &&
                   (style.markerStart || style.markerMid || style.markerEnd);
    kept.dashedBesidesOwn = style.dashedBesidesOwn;
    kept.strokeBeforeFill = style.strokeBeforeFill;
    kept.strokeBeforeMarkers = style.strokeBeforeMarkers;
    // An outline its stroke does not paint (--select all) is drawn in its fill's colour.
    if (!PaintsStroke(style)) {
        const bool fillColour = kept.keepFill && (style.fill.kind == Paint::Kind::Color ||
                                                  style.fill.kind == Paint::Kind::CurrentColor);
        kept.extra = std::make_unique<SvgShape::Extra>();
        kept.extra->outlinePaint = fillColour ? style.fill.text : std::string("black");
        kept.outlineOpaque = !(style.strokeOpacity > 0);
    }
    return kept;
}

[[noreturn]] void RefuseTooManyPoints(const ReadContext& context) {
    throw ReadError(context.file, 0,
                    "the curves flatten to more than " + std::to_string(kMaxFlattenedPoints) +
                        " points; use a larger tolerance");
}

}  // namespace

void CountFlattened(const ReadContext& context, std::size_t& total, std::size_t points) {
    total += points;
    if (total > kMaxFlattenedPoints) RefuseTooManyPoints(context);
}

bool FlattenShape(const ReadContext& context, const Flattening& drawing, FoundShape& shape,
                  std::size_t& total) {
    std::vector<Vec2> points;
    std::vector<Point> flat;
    shape.flattened = true;
    // Unless one was asked for, the drawing's tolerance is made a hundredth of a shape's own
    // size where it is more than a fiftieth of it (a 2 mm hole on a cutter's 1300 mm bed would
    // otherwise become a hexagon), but no finer than 0.01 mm, far below what a machine draws (a
    // stipple of half a million dots stays under the limit of flattened points).
    Flattening flattening = drawing;
    if (!(context.options.tolerance > 0)) {
        Vec2 lo{HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL};
        for (const Subpath& subpath : shape.subpaths) GrowBounds(subpath, lo, hi);
        const double size = lo.x <= hi.x ? math::Hypot(hi.x - lo.x, hi.y - lo.y) : 0;
        const double finest = 0.01 * (96 / 25.4) * context.page.unitsPerPx;  // 0.01 mm
        if (size > 0 && std::isfinite(size) && flattening.tolerance > size / 50)
            flattening.tolerance = std::min(flattening.tolerance, std::max(size / 100, finest));
    }
    shape.tolerance = flattening.tolerance;
    for (const Subpath& subpath : shape.subpaths) {
        bool tooMany = false;
        shape.finite = SegmentOf(subpath, flattening, context.options.closed,
                                 kMaxFlattenedPoints - std::min(total, kMaxFlattenedPoints), points,
                                 flat, tooMany);
        if (tooMany) RefuseTooManyPoints(context);
        if (!shape.finite) break;
        if (flat.size() < 2) {
            // A lone move-to draws nothing; a line or a close of no length draws a dot with
            // round or square caps.
            if (!flat.empty() && (!subpath.primitives.empty() || subpath.closed) &&
                !shape.style.buttCaps)
                shape.dots.push_back(flat.front());
            continue;
        }
        if (!shape.enclosesArea) {
            double twice = 0;  // the shoelace sum, closing back to the start as a fill does
            for (std::size_t k = 0; k < flat.size(); ++k) {
                const Point& a = flat[k];
                const Point& b = flat[(k + 1) % flat.size()];
                twice += a.x * b.y - b.x * a.y;
            }
            shape.enclosesArea = std::fabs(twice) > 1e-9 * flattening.size * flattening.size;
        }
        CountFlattened(context, total, flat.size());
        shape.points += flat.size();
        shape.length += PageLength(flat, subpath.closed);
        shape.segments.emplace_back(flat, subpath.closed);
    }
    // Its curves are segments now: what they took goes before the next shape's are made.
    std::vector<Subpath>().swap(shape.subpaths);
    if (!shape.finite) shape.segments.clear();
    return shape.finite;
}

void BuildShape(const ReadContext& context, FoundShape& shape) {
    shape.built = true;
    auto& segments = shape.segments;
    if (segments.empty()) return;
    const Rhythm rhythm = RhythmFor(context, shape, shape.length);
    std::vector<bool> closed;
    closed.reserve(segments.size());
    for (const auto& segment : segments) closed.push_back(segment.second);
    // Grouped by the rule every host follows: with a period each subpath has a count of its
    // own and is an object of its own. Without one the modifier's settings are not known
    // while reading, so the subpaths are taken as related: one object for a shape's closed
    // subpaths and one for its open ones (the dashing may part them again once it knows).
    for (const hostmodel::SegmentGroup& group : hostmodel::GroupSegments(
             static_cast<int32_t>(segments.size()), closed, rhythm.period > 0, true)) {
        LineObject object;
        object.name = shape.name;
        object.closed = group.closed;
        std::vector<Vec2> seams;
        for (const int32_t i : group.segments) {
            std::vector<Point>& own = segments[static_cast<std::size_t>(i)].first;
            if (rhythm.period > 0) {
                object.dashCount = rhythm.userPeriod > 0
                                       ? UserPeriodCount(own, *group.closed, rhythm)
                                       : PeriodCount(own, *group.closed, rhythm.period);
                if (const double offset = OffsetFor(rhythm, *object.dashCount); offset != 0)
                    object.offset = offset;
            }
            if (closed[static_cast<std::size_t>(i)])
                seams.push_back(Vec2{own.front().x, own.front().y});
            object.segments.push_back(std::move(own));
        }
        shape.objects.push_back(std::move(object));
        shape.seams.push_back(std::move(seams));
    }
    std::vector<std::pair<std::vector<Point>, bool>>().swap(segments);
    shape.kept = KeptShape(shape);
    const bool sheetStroke = !context.sheet.Empty() && PaintsStroke(shape.style);
    if (context.options.preview || sheetStroke) {
        if (!shape.kept.extra) shape.kept.extra = std::make_unique<SvgShape::Extra>();
        SvgShape::Extra& extra = *shape.kept.extra;
        if (context.options.preview) {
            extra.previewStyle = DrawnDeclarations(shape.style, shape.percentBase);
            extra.previewAt = shape.previewAt ? *shape.previewAt : shape.toPage;
        }
        if (sheetStroke) {
            extra.stroke = StrokeDeclarations(shape.style);
            if (shape.style.stroke.kind == Paint::Kind::CurrentColor)
                if (std::string color = context.sheet.OwnColor(shape.node); !color.empty())
                    extra.stroke.emplace_back("color", std::move(color));
            // What else the rules give it that shapes how its stroke is drawn (caps, joins, a
            // hairline, opacity, a filter, its clip), the same for the dashes; nothing that
            // moves, resets or dashes them again (transform, all, animations).
            static const std::set<std::string_view> kCarried = {
                "stroke-linecap", "stroke-linejoin", "stroke-miterlimit", "vector-effect",
                "opacity",        "filter",          "mix-blend-mode",    "isolation",
                "visibility",     "display",         "clip-path",         "mask",
                "shape-rendering"};
            for (StyleSheet::Declaration& d : context.sheet.RuleDeclarations(shape.node))
                if (kCarried.count(d.name) != 0)
                    extra.stroke.emplace_back(std::move(d.name), std::move(d.value));
        }
    }
    shape.style = ComputedStyle{};  // all it was needed for is made
}

void BuildObjects(const ReadContext& context, const Flattening& flattening, Gathered& gathered,
                  Document& doc, SvgScene& scene) {
    std::size_t built = 0;
    for (const FoundShape& shape : gathered.shapes) built += shape.objects.size();
    doc.objects.reserve(built);
    scene.objects.reserve(built);
    scene.shapes.reserve(gathered.shapes.size());
    bool ownTolerances = false;
    for (FoundShape& shape : gathered.shapes) {
        if (!shape.flattened) FlattenShape(context, flattening, shape, gathered.flattenedPoints);
        if (!shape.finite) {
            gathered.diagnostics.Skip(shape.node, "a point is not finite once flattened",
                                      "<" + shape.tag + " " + shape.name + ">");
            ++gathered.counts.skipped;
            continue;
        }
        if (!shape.built) BuildShape(context, shape);
        if (shape.objects.empty()) {  // every subpath of no length
            ++gathered.counts.leftAlone;
            ++gathered.counts.noLength;
            continue;
        }
        const std::size_t shapeIndex = scene.shapes.size();
        // Most drawings have no shape of a tolerance of its own: then the list stays empty.
        if (!ownTolerances && shape.tolerance < flattening.tolerance) {
            ownTolerances = true;
            doc.tolerances.assign(doc.objects.size(), flattening.tolerance);
        }
        if (ownTolerances)
            doc.tolerances.insert(doc.tolerances.end(), shape.objects.size(), shape.tolerance);
        for (std::size_t o = 0; o < shape.objects.size(); ++o) {
            doc.objects.push_back(std::move(shape.objects[o]));
            scene.objects.push_back(SvgObject{shapeIndex, std::move(shape.seams[o])});
        }
        std::vector<LineObject>().swap(shape.objects);
        if (const auto uses = gathered.usesOf.find(shape.node); uses != gathered.usesOf.end()) {
            // A <use> met again through another instance of what holds it: one twin.
            std::unordered_set<const xmlNode*> seen;
            for (xmlNode* use : uses->second)
                if (seen.insert(use).second) shape.kept.uses.push_back(use);
        }
        std::string id;
        const bool named = !scene.geometryUsers.empty() && GetAttribute(shape.node, "id", &id);
        shape.kept.geometryUsed = named && scene.geometryUsers.count(id) != 0;
        // A mask's <use> (which the walk does not enter) draws the dashes too, by its twin.
        if (const auto masked = named ? scene.maskUses.find(id) : scene.maskUses.end();
            masked != scene.maskUses.end())
            shape.kept.uses.insert(shape.kept.uses.end(), masked->second.begin(),
                                   masked->second.end());
        shape.kept.paintedApart = gathered.paintedApart.count(shape.node) != 0;
        scene.shapes.push_back(std::move(shape.kept));
        ++gathered.counts.dashed;
    }
}

}  // namespace korrand::io::detail
