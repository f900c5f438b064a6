// Flattening of lines, Bézier curves and elliptical arcs into polylines within a tolerance.
#include "flatten.h"

#include <algorithm>
#include <cmath>

#include "portable_math.h"

namespace korrand::io::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;

bool Finite(Vec2 p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

double Length(Vec2 p) {
    return math::Hypot(p.x, p.y);
}

// Whole pieces for a wanted (possibly huge, infinite or NaN) count, within [1, kMaxPiecesPerCurve].
std::size_t Clamp(double pieces) {
    if (!(pieces < static_cast<double>(kMaxPiecesPerCurve)))
        return std::isnan(pieces) ? 1 : kMaxPiecesPerCurve;
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(pieces)));
}

// Wang's bound: a degree-n Bézier cut into k equal parameter steps stays within
// n(n-1)/8 * max|second difference| / k^2 of its polyline.
std::size_t WangPieces(double secondDifference, double degreeFactor, double tolerance) {
    if (secondDifference == 0) return 1;  // a straight line, whatever the tolerance
    return Clamp(std::sqrt(degreeFactor * secondDifference / tolerance));
}

double AngleBetween(Vec2 a, Vec2 b) {
    return math::Atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
}

}  // namespace

Affine Affine::operator*(const Affine& r) const {
    return {a * r.a + c * r.b, b * r.a + d * r.b,     a * r.c + c * r.d,
            b * r.c + d * r.d, a * r.e + c * r.f + e, b * r.e + d * r.f + f};
}

Affine Affine::Inverse() const {
    const double det = Det();
    Affine r{d / det, -b / det, -c / det, a / det, 0, 0};
    r.e = -(r.a * e + r.c * f);
    r.f = -(r.b * e + r.d * f);
    return r;
}

Vec2 Primitive::End() const {
    switch (kind) {
        case Kind::Line:
        case Kind::Arc:
            return p[0];
        case Kind::Quadratic:
            return p[1];
        case Kind::Cubic:
            return p[2];
    }
    return p[0];
}

ArcOutcome ArcToCenter(Vec2 p1, double rx, double ry, double phiDegrees, ArcSize size,
                       ArcSweep sweep, Vec2 p2, Primitive& arc) {
    if (p1.x == p2.x && p1.y == p2.y) return ArcOutcome::Omitted;
    rx = std::fabs(rx);
    ry = std::fabs(ry);
    if (!(rx > 0) || !(ry > 0) || !std::isfinite(rx) || !std::isfinite(ry)) return ArcOutcome::Line;
    const bool largeArc = size == ArcSize::Large, positive = sweep == ArcSweep::Positive;

    const double phi = std::fmod(phiDegrees, 360.0) * (kPi / 180.0);
    const double cosPhi = math::Cos(phi), sinPhi = math::Sin(phi);
    // Half the chord, in the ellipse's axes; halved before subtracting so it cannot overflow.
    const double dx = p1.x / 2 - p2.x / 2, dy = p1.y / 2 - p2.y / 2;
    const double x1 = cosPhi * dx + sinPhi * dy;
    const double y1 = -sinPhi * dx + cosPhi * dy;

    // lambda > 1: the radii cannot span the chord; scale them up until they just do (the centre is
    // then the chord's midpoint). Written with ratios so tiny or huge radii neither underflow nor
    // overflow.
    const double ax = x1 / rx, ay = y1 / ry;
    const double lambda = ax * ax + ay * ay;
    double coef = 0;
    if (lambda >= 1 || !std::isfinite(lambda)) {
        const double ratio = ry / rx;
        const double scaledRx = math::Hypot(x1, y1 / ratio);
        if (!std::isfinite(scaledRx) || !(scaledRx > 0)) return ArcOutcome::Line;
        rx = scaledRx;
        ry = scaledRx * ratio;
    } else {
        if (!(lambda > 0)) return ArcOutcome::Line;  // ends too close to tell the arcs apart
        coef = std::sqrt((1 - lambda) / lambda);
        if (largeArc == positive) coef = -coef;
    }
    const double cx1 = coef * (y1 / ry) * rx;
    const double cy1 = -coef * (x1 / rx) * ry;

    const Vec2 center{cosPhi * cx1 - sinPhi * cy1 + (p1.x / 2 + p2.x / 2),
                      sinPhi * cx1 + cosPhi * cy1 + (p1.y / 2 + p2.y / 2)};
    const Vec2 from{(x1 - cx1) / rx, (y1 - cy1) / ry};
    const Vec2 to{(-x1 - cx1) / rx, (-y1 - cy1) / ry};
    const double theta1 = math::Atan2(from.y, from.x);
    double dtheta = AngleBetween(from, to);
    if (!positive && dtheta > 0) dtheta -= 2 * kPi;
    if (positive && dtheta < 0) dtheta += 2 * kPi;
    if (!Finite(center) || !std::isfinite(theta1) || !std::isfinite(dtheta))
        return ArcOutcome::Line;

    arc = Primitive{};
    arc.kind = Primitive::Kind::Arc;
    arc.p[0] = p2;
    arc.center = center;
    arc.u = {rx * cosPhi, rx * sinPhi};
    arc.v = {-ry * sinPhi, ry * cosPhi};
    arc.theta1 = theta1;
    arc.dtheta = dtheta;
    return ArcOutcome::Arc;
}

Primitive Transformed(const Primitive& primitive, const Affine& m) {
    Primitive t = primitive;
    for (Vec2& p : t.p) p = m(p);
    if (t.kind == Primitive::Kind::Arc) {
        t.center = m(t.center);
        t.u = m.Linear(t.u);
        t.v = m.Linear(t.v);
    }
    return t;
}

bool IsFinite(const Subpath& subpath) {
    if (!Finite(subpath.start)) return false;
    for (const Primitive& primitive : subpath.primitives) {
        for (const Vec2& p : primitive.p)
            if (!Finite(p)) return false;
        if (primitive.kind == Primitive::Kind::Arc &&
            (!Finite(primitive.center) || !Finite(primitive.u) || !Finite(primitive.v) ||
             !std::isfinite(primitive.theta1) || !std::isfinite(primitive.dtheta)))
            return false;
    }
    return true;
}

void GrowBounds(const Subpath& subpath, Vec2& lo, Vec2& hi) {
    const auto grow = [&](Vec2 p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    };
    grow(subpath.start);
    for (const Primitive& primitive : subpath.primitives) {
        switch (primitive.kind) {
            case Primitive::Kind::Line:
                grow(primitive.p[0]);
                break;
            case Primitive::Kind::Quadratic:
                grow(primitive.p[0]);
                grow(primitive.p[1]);
                break;
            case Primitive::Kind::Cubic:
                grow(primitive.p[0]);
                grow(primitive.p[1]);
                grow(primitive.p[2]);
                break;
            case Primitive::Kind::Arc: {
                // The whole ellipse's box: centre +- (|u| + |v|) per axis.
                const double ex = std::fabs(primitive.u.x) + std::fabs(primitive.v.x);
                const double ey = std::fabs(primitive.u.y) + std::fabs(primitive.v.y);
                grow({primitive.center.x - ex, primitive.center.y - ey});
                grow({primitive.center.x + ex, primitive.center.y + ey});
                grow(primitive.p[0]);
                break;
            }
        }
    }
}

std::size_t QuadraticPieces(Vec2 p0, Vec2 p1, Vec2 p2, double tolerance) {
    return WangPieces(Length({p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y}), 2.0 / 8.0,
                      tolerance);
}

std::size_t CubicPieces(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, double tolerance) {
    const double d1 = Length({p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y});
    const double d2 = Length({p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y});
    return WangPieces(std::max(d1, d2), 6.0 / 8.0, tolerance);
}

std::size_t ArcPieces(const Primitive& arc, double tolerance) {
    // The ellipse is the image of the unit circle under {u, v}: a chord's distance from the arc is
    // at most the largest singular value r times the unit circle's 1 - cos(step / 2).
    const double s = arc.u.x * arc.u.x + arc.u.y * arc.u.y + arc.v.x * arc.v.x + arc.v.y * arc.v.y;
    const double det = arc.u.x * arc.v.y - arc.u.y * arc.v.x;
    const double r = std::sqrt((s + std::sqrt(std::max(0.0, s * s - 4 * det * det))) / 2);
    const double sweep = std::fabs(arc.dtheta);
    // At least one piece per quarter turn, so a tiny circle stays a loop rather than a line.
    const double quarters = std::ceil(sweep / (kPi / 2) - 1e-9);
    double step = kPi;
    if (tolerance < r)
        step = 4 * math::Asin(std::sqrt(tolerance / (2 * r)));  // 1 - cos(h/2) = tol/r
    return std::max(Clamp(quarters), Clamp(sweep / step));
}

bool Flatten(const Subpath& subpath, double tolerance, std::vector<Vec2>& out,
             std::size_t maxPoints) {
    // Whether n more points fit.
    const auto room = [&](std::size_t n) {
        return out.size() < maxPoints && n <= maxPoints - out.size();
    };
    if (!room(1)) return false;
    out.push_back(subpath.start);
    Vec2 current = subpath.start;
    for (const Primitive& q : subpath.primitives) {
        switch (q.kind) {
            case Primitive::Kind::Line:
                break;
            case Primitive::Kind::Quadratic: {
                const std::size_t n = QuadraticPieces(current, q.p[0], q.p[1], tolerance);
                if (!room(n)) return false;
                for (std::size_t i = 1; i < n; ++i) {
                    const double t = static_cast<double>(i) / static_cast<double>(n), s = 1 - t;
                    const double w0 = s * s, w1 = 2 * s * t, w2 = t * t;
                    out.push_back({w0 * current.x + w1 * q.p[0].x + w2 * q.p[1].x,
                                   w0 * current.y + w1 * q.p[0].y + w2 * q.p[1].y});
                }
                break;
            }
            case Primitive::Kind::Cubic: {
                const std::size_t n = CubicPieces(current, q.p[0], q.p[1], q.p[2], tolerance);
                if (!room(n)) return false;
                for (std::size_t i = 1; i < n; ++i) {
                    const double t = static_cast<double>(i) / static_cast<double>(n), s = 1 - t;
                    const double w0 = s * s * s, w1 = 3 * s * s * t, w2 = 3 * s * t * t,
                                 w3 = t * t * t;
                    out.push_back({w0 * current.x + w1 * q.p[0].x + w2 * q.p[1].x + w3 * q.p[2].x,
                                   w0 * current.y + w1 * q.p[0].y + w2 * q.p[1].y + w3 * q.p[2].y});
                }
                break;
            }
            case Primitive::Kind::Arc: {
                const std::size_t n = ArcPieces(q, tolerance);
                if (!room(n)) return false;
                for (std::size_t i = 1; i < n; ++i) {
                    const double t =
                        q.theta1 + q.dtheta * static_cast<double>(i) / static_cast<double>(n);
                    const double c = math::Cos(t), s = math::Sin(t);
                    out.push_back(
                        {q.center.x + q.u.x * c + q.v.x * s, q.center.y + q.u.y * c + q.v.y * s});
                }
                break;
            }
        }
        current = q.End();
        if (!room(1)) return false;
        out.push_back(current);
    }
    return true;
}

}  // namespace korrand::io::detail
