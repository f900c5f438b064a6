// Linear spline evaluation and arc-length measurement. Every spline type is evaluated as a
// polyline through its points. Nothing here allocates per query or shares mutable state, so
// measurers work concurrently on different threads.
#include <algorithm>
#include <cmath>

#include "model_internal.h"

namespace hostmodel {
namespace {

using Edge = HostMeasurer::Edge;

double Distance(const HostVector& a, const HostVector& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// NaN becomes 0, everything else is clamped to 0..1.
double ClampUnit(double v) {
    if (!(v >= 0.0)) return 0.0;
    return v > 1.0 ? 1.0 : v;
}

void Reset(HostMeasurer* m) {
    m->edges.clear();
    m->edgeCount = 0;
    m->length = 0.0;
    m->ready = false;
    m->cursor = 0;
}

// Index of the last edge whose start is <= target. Starts never decrease and the first is 0,
// so that edge exists for every target >= 0. Increasing (or decreasing) queries mostly hit
// the remembered edge or a neighbour; anything else is a binary search.
size_t Locate(HostMeasurer* m, double target) {
    const std::vector<Edge>& e = m->edges;
    const size_t n = e.size();
    auto fits = [&](size_t k) {
        return e[k].start <= target && (k + 1 == n || e[k + 1].start > target);
    };
    size_t k = m->cursor < n ? m->cursor : 0;
    if (fits(k)) return k;
    if (k + 1 < n && fits(k + 1)) return m->cursor = k + 1;
    if (k > 0 && fits(k - 1)) return m->cursor = k - 1;
    auto it = std::upper_bound(e.begin(), e.end(), target,
                               [](double v, const Edge& edge) { return v < edge.start; });
    k = it == e.begin() ? 0 : static_cast<size_t>(it - e.begin()) - 1;
    return m->cursor = k;
}

// ---- Object entry

HostVector GetSplinePoint(const HostAtom* op, double t, int32_t seg, const HostVector* padr) {
    if (detail::Recording()) detail::Record("object.GetSplinePoint", op, {seg}, {t});
    const HostVector origin{0.0, 0.0, 0.0};
    if (op == nullptr || !detail::HasPoints(op->type)) return origin;
    const size_t total = op->points.size();
    size_t begin = 0, n = 0;
    if (!detail::SegmentRange(op, total, seg, &begin, &n) || n == 0) return origin;
    const HostVector* p = (padr != nullptr ? padr : op->points.data()) + begin;
    if (n == 1) return p[0];
    const size_t edges = detail::IsClosed(op) ? n : n - 1;
    const double x = ClampUnit(t) * static_cast<double>(edges);
    const double whole = std::floor(x);
    const size_t i = whole >= static_cast<double>(edges - 1) ? edges - 1 : static_cast<size_t>(whole);
    const double f = x - static_cast<double>(i);
    const HostVector& a = p[i];
    const HostVector& b = p[i + 1 == n ? 0 : i + 1];
    return HostVector{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
}

// ---- Measurer entries

HostMeasurer* MeasurerAlloc() {
    HostMeasurer* m = nullptr;
    if (!detail::ObjectAllocationFails()) {
        try {
            m = new HostMeasurer();
            detail::Created();
        } catch (...) {
            m = nullptr;
        }
    }
    if (detail::Recording()) detail::Record("measurer.Alloc", m);
    return m;
}

void MeasurerFree(HostMeasurer* m) {
    if (detail::Recording()) detail::Record("measurer.Free", m);
    if (m == nullptr) return;
    delete m;
    detail::Destroyed();
}

int32_t MeasurerInit(HostMeasurer* m, const HostAtom* op, int32_t seg, const HostAtom* override_) {
    if (detail::Recording()) detail::Record("measurer.Init", m, {seg});
    if (m == nullptr) return 0;
    Reset(m);
    if (op == nullptr) return 0;
    const HostAtom* src = override_ != nullptr ? override_ : op;
    if (!detail::HasPoints(src->type)) return 0;
    size_t begin = 0, n = 0;
    if (!detail::SegmentRange(src, src->points.size(), seg, &begin, &n) || n == 0) return 0;
    const HostVector* p = src->points.data() + begin;
    const size_t count = n < 2 ? 0 : (detail::IsClosed(op) ? n : n - 1);
    try {
        m->edges.reserve(count);
    } catch (...) {
        return 0;
    }
    double cum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double len = Distance(p[i], p[i + 1 == n ? 0 : i + 1]);
        // Zero-length edges are never where a length fraction lands; NaN lengths fail below.
        if (len > 0.0) m->edges.push_back(Edge{cum, len, static_cast<int32_t>(i)});
        cum = cum + len;
    }
    if (!std::isfinite(cum)) {
        Reset(m);
        return 0;
    }
    m->edgeCount = static_cast<int32_t>(count);
    m->length = cum;
    m->ready = true;
    return 1;
}

double MeasurerGetLength(const HostMeasurer* m) {
    if (detail::Recording()) detail::Record("measurer.GetLength", m);
    return m != nullptr ? m->length : 0.0;
}

double MeasurerUniformToNatural(HostMeasurer* m, double u) {
    if (detail::Recording()) detail::Record("measurer.UniformToNatural", m, {}, {u});
    if (m == nullptr || !m->ready) return 0.0;
    u = ClampUnit(u);
    // No length: every parameter names the same point.
    if (m->edges.empty()) return u;
    const double target = u * m->length;
    const Edge& e = m->edges[Locate(m, target)];
    double f = (target - e.start) / e.len;
    f = f < 0.0 ? 0.0 : (f > 1.0 ? 1.0 : f);
    return ClampUnit((static_cast<double>(e.index) + f) / static_cast<double>(m->edgeCount));
}

} // namespace

namespace detail {

bool SegmentRange(const HostAtom* op, size_t pointCount, int32_t seg, size_t* begin,
                  size_t* count) {
    if (seg < 0) return false;
    const std::vector<HostSegment>& segs = op->segments;
    if (!HasSegments(op->type) || segs.empty()) {
        if (seg != 0) return false;
        *begin = 0;
        *count = pointCount;
        return true;
    }
    const size_t index = static_cast<size_t>(seg);
    if (index >= segs.size()) return false;
    // Records may disagree with the points (the plug-in writes them); clamp to what exists.
    size_t start = 0;
    for (size_t i = 0; i < index && start < pointCount; ++i)
        start += segs[i].cnt > 0 ? static_cast<size_t>(segs[i].cnt) : 0;
    if (start > pointCount) start = pointCount;
    const size_t cnt = segs[index].cnt > 0 ? static_cast<size_t>(segs[index].cnt) : 0;
    *begin = start;
    *count = std::min(cnt, pointCount - start);
    return true;
}

void FillSplines(HostObjectOps& objects, HostMeasurerOps& measurer) {
    objects.GetSplinePoint = GetSplinePoint;
    measurer.Alloc = MeasurerAlloc;
    measurer.Free = MeasurerFree;
    measurer.Init = MeasurerInit;
    measurer.GetLength = MeasurerGetLength;
    measurer.UniformToNatural = MeasurerUniformToNatural;
}

} // namespace detail
} // namespace hostmodel
