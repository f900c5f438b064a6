// The line objects built from the shapes found: each subpath flattened into one segment in the
// root's user space; without a period one object for a shape's closed subpaths and one for its
// open ones, each telling the modifier whether to measure it closed; with a period every subpath
// an object of its own, with the count the period gives it.
#include <algorithm>
#include <cmath>

#include "parameter_value.h"
#include "svg_read.h"

namespace korrand::io::detail {
namespace {

constexpr std::size_t kMaxPoints = 20'000'000;  // flattened points in one file

// One subpath flattened into a segment, in the root's user space: repeated points dropped, a
// closed loop ending on its last distinct point, or, measured open by request, on its start
// again. False for a point that is not finite once flattened.
bool SegmentOf(const Subpath& subpath, const Flattening& flattening,
               std::optional<bool> forcedClosed, std::vector<Vec2>& points,
               std::vector<Point>& segment) {
    points.clear();
    segment.clear();
    Flatten(subpath, flattening.tolerance, points);
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

// The period of a shape's subpaths in root user units (0: none): its own dash array's when that
// is asked for and it has one, else the one given.
double PeriodFor(const ReadContext& context, const FoundShape& shape) {
    if (context.options.periodFromDasharray) {
        const double own =
            DasharrayPeriod(shape.style.dasharray) * std::sqrt(std::fabs(shape.toPage.Det()));
        if (std::isfinite(own) && own > 0) return own;
    }
    const double period = context.options.period * context.page.unitsPerPx;
    return std::isfinite(period) && period > 0 ? period : 0;
}

// What the writer needs to know of a dashed shape.
SvgShape KeptShape(const Gathered& gathered, const FoundShape& shape) {
    SvgShape kept;
    kept.node = shape.node;
    kept.toPage = shape.toPage;
    kept.keepFill = shape.style.fill != "none" && shape.tag != "line";  // a line has no area
    kept.throughUse = shape.throughUse;
    // Markers are drawn on paths, lines, polylines and polygons only.
    kept.markers = shape.tag != "rect" && shape.tag != "circle" && shape.tag != "ellipse" &&
                   (shape.style.markerStart != "none" || shape.style.markerMid != "none" ||
                    shape.style.markerEnd != "none");
    if (shape.style.dasharray != "none") {
        std::string own;
        kept.inheritsDasharray = !GetAttribute(shape.node, "stroke-dasharray", nullptr) &&
                                 !(GetAttribute(shape.node, "style", &own) &&
                                   own.find("stroke-dasharray") != std::string::npos);
    }
    if (const auto uses = gathered.usesOf.find(shape.node); uses != gathered.usesOf.end())
        kept.uses = uses->second;
    if (shape.style.stroke == "none")
        kept.outlinePaint = kept.keepFill && shape.style.fill.rfind("url(", 0) != 0
                                ? shape.style.fill
                                : std::string("black");
    return kept;
}

}  // namespace

void BuildObjects(const ReadContext& context, const Flattening& flattening, Gathered& gathered,
                  Document& doc, SvgScene& scene) {
    std::size_t total = 0;
    std::vector<Vec2> points;
    std::vector<Point> segment;
    for (const FoundShape& shape : gathered.shapes) {
        const double period = PeriodFor(context, shape);
        const std::size_t shapeIndex = scene.shapes.size();
        const std::size_t firstObject = doc.objects.size();
        std::ptrdiff_t byKind[2] = {-1, -1};  // without a period: the open and the closed object
        bool finite = true;
        for (const Subpath& subpath : shape.subpaths) {
            finite = SegmentOf(subpath, flattening, context.options.closed, points, segment);
            if (!finite) break;
            if (segment.size() < 2) continue;  // a lone move-to draws nothing
            total += segment.size();
            if (total > kMaxPoints)
                throw ReadError(context.file, 0,
                                "the curves flatten to more than " + std::to_string(kMaxPoints) +
                                    " points; use a larger tolerance");
            const Vec2 seam{segment.front().x, segment.front().y};
            std::size_t objectIndex = 0;
            std::ptrdiff_t& kind = byKind[subpath.closed ? 1 : 0];
            if (period > 0 || kind < 0) {
                LineObject object;
                object.name = shape.name;
                object.closed = subpath.closed;
                if (period > 0) object.dashCount = PeriodCount(segment, subpath.closed, period);
                objectIndex = doc.objects.size();
                if (period <= 0) kind = static_cast<std::ptrdiff_t>(objectIndex);
                doc.objects.push_back(std::move(object));
                scene.objects.push_back(SvgObject{shapeIndex, {}});
            } else {
                objectIndex = static_cast<std::size_t>(kind);
            }
            doc.objects[objectIndex].segments.push_back(segment);
            if (subpath.closed) scene.objects[objectIndex].seams.push_back(seam);
        }
        if (!finite) {
            doc.objects.resize(firstObject);
            scene.objects.resize(firstObject);
            gathered.diagnostics.Skip(shape.node, "a point is not finite once flattened",
                                      "<" + shape.tag + " " + shape.name + ">");
            ++gathered.counts.skipped;
            continue;
        }
        if (doc.objects.size() == firstObject) continue;
        scene.shapes.push_back(KeptShape(gathered, shape));
        ++gathered.counts.dashed;
    }
}

}  // namespace korrand::io::detail
