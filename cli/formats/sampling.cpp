// Chord deviation of evenly sampled dashes, for choosing their subdivision.
#include "sampling.h"

#include <algorithm>
#include <cmath>

#include "portable_math.h"

namespace korrand::io {
namespace {

struct Xy {
    double x, y;
};

double DistanceToChord(Xy p, Xy a, Xy b) {
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return math::Hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// The same squared, without hypot's care against overflow (an overflow only sends the caller to
// the exact distance).
double SquaredDistanceToChord(Xy p, Xy a, Xy b) {
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
    return ex * ex + ey * ey;
}

// The polyline with its arc positions; a closed one ends on its start again.
struct Walk {
    std::vector<Xy> points;
    std::vector<double> at;  // arc position of each point
    bool closed = false;
    double length = 0;

    Walk(const std::vector<Point>& segment, bool closed_) : closed(closed_) {
        for (const Point& p : segment) points.push_back({p.x, p.y});
        if (closed && points.size() > 1) points.push_back(points.front());
        Measure();
    }
    // The walk through these points (a closed one's start again at its end).
    Walk(std::vector<Xy> points_, bool closed_) : points(std::move(points_)), closed(closed_) {
        Measure();
    }
    void Measure() {
        at.resize(points.size(), 0);
        for (std::size_t i = 1; i < points.size(); ++i)
            at[i] = at[i - 1] +
                    math::Hypot(points[i].x - points[i - 1].x, points[i].y - points[i - 1].y);
        length = at.empty() ? 0 : at.back();
    }
    // The point at arc position t (wrapped on a closed polyline, clamped on an open one).
    // `hint`: where the previous look-up of a rising series of positions ended; the search
    // starts there.
    Xy PointAt(double t, std::size_t* hint = nullptr) const {
        if (closed) {
            if (t < 0 || t >= length) t = std::fmod(t, length);
            if (t < 0) t += length;
        } else {
            t = std::clamp(t, 0.0, length);
        }
        std::size_t i = 0;
        if (hint != nullptr && *hint < at.size() && at[*hint] <= t) {
            // upper_bound from the hint: the first position beyond t.
            i = *hint;
            while (i < at.size() && at[i] <= t) ++i;
        } else {
            i = static_cast<std::size_t>(std::upper_bound(at.begin(), at.end(), t) - at.begin());
        }
        if (hint != nullptr) *hint = i == 0 ? 0 : i - 1;
        if (i == 0) return points.front();
        if (i >= points.size()) return points.back();
        const double piece = at[i] - at[i - 1];
        const double f = piece > 0 ? (t - at[i - 1]) / piece : 0;
        return {points[i - 1].x + f * (points[i].x - points[i - 1].x),
                points[i - 1].y + f * (points[i].y - points[i - 1].y)};
    }
};

// A vertex whose chord ends fall on its own two edges, the chord spanning no other vertex, lies
// from the chord as an isosceles triangle's apex from its base: half the chord's length times the
// cosine of half its angle, a slope. A yes-or-no question asked at many spacings (SubdivisionFor)
// answers such a vertex from its slope, and measures the exact distance only within a
// ten-thousandth of the limit (far above the rounding of either) or where the slope does not
// hold: the answers are those of the exact distances.
struct Corners {
    std::vector<double> slope, reach;  // per vertex; the slope holds while half < reach
    double smallestLimit = HUGE_VAL;   // below it, the coordinates' rounding could matter

    explicit Corners(const Walk& walk) {
        const std::vector<Xy>& p = walk.points;
        const double length = walk.length;
        if (p.size() < 3 || !(length > 0)) return;
        const std::size_t n = p.size() - (walk.closed ? 1 : 0);
        double scale = length;
        for (const Xy& q : p) scale = std::max({scale, std::fabs(q.x), std::fabs(q.y)});
        if (!(scale < 1e100)) return;  // squares of steps stay far from overflow
        smallestLimit = scale * 1e-8;
        slope.assign(n, 0);
        reach.assign(n, 0);
        for (std::size_t v = 0; v < n; ++v) {
            if (!walk.closed && (v == 0 || v + 1 == n)) continue;  // a chord end held at the end
            const double tv = walk.at[v];
            // The edges into and out of v, as arc positions see them (a closed walk's first vertex
            // comes in on its last edge), and the neighbours' distances as Deviation takes them.
            const std::size_t before = v == 0 ? n - 1 : v - 1;
            const double in = v == 0 ? length - walk.at[n - 1] : tv - walk.at[v - 1];
            const double out = walk.at[v + 1] - tv;
            double nearest = std::min(in, out);
            for (const std::size_t i : {before, (v + 1) % n}) {
                double distance = std::fabs(walk.at[i] - tv);
                if (walk.closed) distance = std::min(distance, length - distance);
                nearest = std::min(nearest, distance);
            }
            if (!(nearest > length * 1e-6)) continue;
            // Half the distance between the unit steps in and out.
            const Xy& from = p[before];
            const Xy& at = p[v];
            const Xy& to = p[v + 1];
            const double dx = (to.x - at.x) / out - (at.x - from.x) / in;
            const double dy = (to.y - at.y) / out - (at.y - from.y) / in;
            slope[v] = std::sqrt(dx * dx + dy * dy) / 2;
            reach[v] = nearest * (1 - 1e-9);
        }
    }
};

// The largest chord deviation of `walk` at `spacing`, or, with a `limit`, the first deviation
// found beyond it (all a yes-or-no question needs), answered from `corners` where they can.
double Deviation(const Walk& walk, double spacing, double limit = HUGE_VAL,
                 const Corners* corners = nullptr) {
    if (walk.points.size() < 3 || !(walk.length > 0) || !(spacing > 0)) return 0;
    const double half = std::min(spacing, walk.length) / 2;
    // Vertices of the polyline, a closed one's start once.
    const std::size_t n = walk.points.size() - (walk.closed ? 1 : 0);
    const bool bounded = std::isfinite(limit);
    const double limit2 = limit * limit;
    const bool sloped = corners != nullptr && bounded && limit > 0 &&
                        limit >= corners->smallestLimit && corners->slope.size() == n;
    double worst = 0;
    // Squared distances first; the exact distance only where it could change the answer.
    const auto consider = [&](Xy p, Xy a, Xy b) {
        const double d2 = SquaredDistanceToChord(p, a, b);
        if (bounded ? d2 < limit2 * (1 - 1e-9) : d2 < worst * worst * (1 - 1e-9)) return false;
        worst = std::max(worst, DistanceToChord(p, a, b));
        return worst > limit;
    };
    std::size_t behind = 0, ahead = 0;  // where the chords' ends were found last
    for (std::size_t v = 0; v < n; ++v) {
        if (sloped && half < corners->reach[v]) {
            const double d = half * corners->slope[v];
            if (d <= limit * (1 - 1e-4)) continue;
            if (d > limit * (1 + 1e-4)) return d;
        }
        const double tv = walk.at[v];
        const Xy a = walk.PointAt(tv - half, &behind), b = walk.PointAt(tv + half, &ahead);
        if (consider(walk.points[v], a, b)) return worst;
        // The other vertices the chord spans, on both sides.
        for (int side : {-1, 1}) {
            for (std::size_t k = 1; k < n; ++k) {
                std::size_t i = 0;
                double distance = 0;
                if (walk.closed) {
                    i = side > 0 ? (v + k) % n : (v + n - k % n) % n;
                    distance = std::fabs(walk.at[i] - tv);
                    distance = std::min(distance, walk.length - distance);
                } else {
                    if ((side < 0 && k > v) || (side > 0 && v + k >= n)) break;
                    i = side > 0 ? v + k : v - k;
                    distance = std::fabs(walk.at[i] - tv);
                }
                if (distance >= half) break;
                if (consider(walk.points[i], a, b)) return worst;
            }
        }
    }
    return worst;
}

// Beyond this many vertices a segment is measured through its simplified polyline.
constexpr std::size_t kDense = 4096;

double Cross(Xy a, Xy b) {
    return a.x * b.y - a.y * b.x;
}

// The polyline p with fewer vertices, each dropped one within eps of the line that replaces it,
// in one pass: a run from a kept vertex goes on while one line from it passes within eps of
// every point of the run (the cone of such directions, narrowed by each point, holds the next
// one) and the run does not turn back. Its ends are kept.
std::vector<Xy> Simplified(const std::vector<Xy>& p, double eps) {
    const std::size_t n = p.size();
    if (n < 3 || !(eps > 0)) return p;
    std::vector<Xy> kept = {p[0]};
    std::size_t anchor = 0;
    bool narrowed = false;  // else every direction will do
    Xy left{}, right{};     // the cone's edges, unit vectors, left counterclockwise of right
    double reach = 0;       // how far the run went from the anchor
    for (std::size_t i = 1; i < n;) {
        const Xy v{p[i].x - p[anchor].x, p[i].y - p[anchor].y};
        const double r = std::sqrt(v.x * v.x + v.y * v.y);
        // Out of the cone, or turning back (to the anchor itself, say): the run ends before i,
        // which starts the next.
        const bool inside = !narrowed || (Cross(right, v) >= 0 && Cross(v, left) >= 0);
        if ((!inside && r > eps) || r < reach - eps) {
            anchor = i - 1;
            kept.push_back(p[anchor]);
            narrowed = false;
            reach = 0;
            continue;
        }
        if (!(r > eps)) {  // near the anchor, the run not gone out: any line will do
            ++i;
            continue;
        }
        // The directions within eps of this point: v turned either way by asin(eps / r).
        const double sine = eps / r, cosine = std::sqrt(1 - sine * sine);
        const Xy toLeft{(v.x * cosine - v.y * sine) / r, (v.x * sine + v.y * cosine) / r};
        const Xy toRight{(v.x * cosine + v.y * sine) / r, (v.y * cosine - v.x * sine) / r};
        if (!narrowed || Cross(left, toLeft) < 0) left = toLeft;
        if (!narrowed || Cross(right, toRight) > 0) right = toRight;
        narrowed = true;
        reach = std::max(reach, r);
        ++i;
    }
    kept.push_back(p[n - 1]);
    return kept;
}

}  // namespace

double ChordDeviation(const std::vector<Point>& segment, bool closed, double spacing) {
    return Deviation(Walk(segment, closed), spacing);
}

int64_t SubdivisionFor(const std::vector<Point>& segment, bool closed, double dashLength,
                       double tolerance, int64_t lowest, int64_t highest) {
    if (highest < lowest) return lowest;
    Walk walk(segment, closed);
    // A chord is measured against every vertex it spans: on a polyline far denser than the
    // dashes (a CAD export's thousands of points on a straight line or a gentle arc) that is a
    // square of the points. Such a polyline is measured with the vertices that lie within a
    // twentieth of the tolerance of a straight run dropped (coarser than the rounding of the
    // coordinates a file holds), against what is left of the tolerance (a dropped vertex may lie
    // up to sqrt(2) times that far from the line that replaces it, beyond its ends).
    if (walk.points.size() > kDense && tolerance > 0) {
        const double eps = tolerance / 20;
        walk = Walk(Simplified(walk.points, eps), closed);
        tolerance -= 1.5 * eps;
    }
    const Corners corners(walk);
    const auto fits = [&](int64_t subdivision) {
        const double spacing = dashLength / static_cast<double>(std::max<int64_t>(subdivision, 1));
        return Deviation(walk, spacing, tolerance, &corners) <= tolerance;
    };
    return SearchSubdivision(lowest, highest, fits);
}

}  // namespace korrand::io
