// 2D curve primitives of an SVG drawing and their flattening into polylines.
#pragma once

#include <cstddef>
#include <vector>

namespace korrand::io::detail {

struct Vec2 {
    double x, y;
};

// x' = a x + c y + e, y' = b x + d y + f (the order of SVG's matrix(a b c d e f)).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Vec2 operator()(Vec2 p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    Vec2 Linear(Vec2 v) const { return {a * v.x + c * v.y, b * v.x + d * v.y}; }
    // This after `inner`.
    Affine operator*(const Affine& inner) const;
    double Det() const { return a * d - b * c; }
    // Only for a finite, non-zero Det().
    Affine Inverse() const;
    static Affine Translate(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
    static Affine Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
};

struct Primitive {
    enum class Kind { Line, Quadratic, Cubic, Arc };
    Kind kind = Kind::Line;
    // Control points, then the end point: Line p[0]; Quadratic p[0], p[1]; Cubic p[0..2]; Arc p[0].
    Vec2 p[3] = {};
    // Arc: the curve is center + axes * (cos t, sin t) for t from theta1 to theta1 + dtheta.
    // axes is the 2x2 matrix {u, v} as columns: point = center + u cos t + v sin t.
    Vec2 center = {}, u = {}, v = {};
    double theta1 = 0, dtheta = 0;

    Vec2 End() const;
};

struct Subpath {
    Vec2 start = {};
    std::vector<Primitive> primitives;
    bool closed = false;
};

// An SVG elliptical arc's flags: which of the two ellipses' arcs, and which way round.
enum class ArcSize : bool { Small, Large };
enum class ArcSweep : bool { Negative, Positive };  // Positive: the way of increasing angles

// What an SVG elliptical arc from p1 to p2 is drawn as: an arc, a straight line (a radius is
// zero), or nothing at all (the end points coincide).
enum class ArcOutcome { Arc, Line, Omitted };

// The arc in center form (the SVG implementation notes' conversion, with radii scaled up when
// too small) into `arc` when it is one.
ArcOutcome ArcToCenter(Vec2 p1, double rx, double ry, double phiDegrees, ArcSize size,
                       ArcSweep sweep, Vec2 p2, Primitive& arc);

// The same primitive under m.
Primitive Transformed(const Primitive& primitive, const Affine& m);

bool IsFinite(const Subpath& subpath);
// Grows [lo, hi] by the subpath's control points (a box that contains the curve).
void GrowBounds(const Subpath& subpath, Vec2& lo, Vec2& hi);

// Upper bound on the pieces one curve is cut into.
constexpr std::size_t kMaxPiecesPerCurve = 10000;

// Pieces needed so that no point of the curve is farther than `tolerance` from the polyline.
std::size_t QuadraticPieces(Vec2 p0, Vec2 p1, Vec2 p2, double tolerance);
std::size_t CubicPieces(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double tolerance);
std::size_t ArcPieces(const Primitive& arc, double tolerance);

// Appends the subpath's start and the points of each primitive; each primitive ends exactly on
// its end point. False, with `out` left short, where that would make it hold more than
// `maxPoints`: a hostile file at a fine tolerance must not take all the memory first.
bool Flatten(const Subpath& subpath, double tolerance, std::vector<Vec2>& out,
             std::size_t maxPoints = static_cast<std::size_t>(-1));

}  // namespace korrand::io::detail
