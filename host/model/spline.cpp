// Linear spline evaluation and arc-length measurement. Every spline type is evaluated as a
// polyline through its points. Nothing here allocates per query or shares mutable state, so
// measurers work concurrently on different threads.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "model_internal.h"

namespace hostmodel {

// What a SampleTrace collects: which input segment each measured work spline holds, the last
// uniform parameter asked for, and every sample with the position it evaluated to.
struct SampleTrace::State {
    const HostAtom* line = nullptr;
    int32_t nextSegment = 0;  // work splines are measured in segment order
    std::vector<std::pair<const HostAtom*, int32_t>> splines;
    std::vector<std::pair<const HostMeasurer*, const HostAtom*>> measurers;
    const HostAtom* lastSpline = nullptr;  // the last lookup, which most samples repeat
    int32_t lastSegment = -1;
    const HostMeasurer* lastMeasurer = nullptr;
    const HostMeasurer* asked = nullptr;
    double uniform = 0.0;
    std::vector<Sample> samples;
    std::vector<HostVector> evaluated;
    bool broken = false;
};

namespace {

thread_local SampleTrace::State* t_trace = nullptr;

// The segment of the traced line object whose points equal those of op's segment 0, from the
// next one on; -1 when none does.
int32_t TraceMeasured(SampleTrace::State& s, const HostAtom* op, const HostMeasurer* m) {
    const HostAtom* line = s.line;
    const size_t n = op->points.size();
    const int32_t count = static_cast<int32_t>(line->segments.size());
    size_t begin = 0;
    for (int32_t i = 0; i < s.nextSegment && i < count; ++i)
        begin += line->segments[static_cast<size_t>(i)].cnt > 0
                     ? static_cast<size_t>(line->segments[static_cast<size_t>(i)].cnt)
                     : 0;
    for (int32_t i = s.nextSegment; i < count; ++i) {
        const int32_t c = line->segments[static_cast<size_t>(i)].cnt;
        const size_t held = c > 0 ? static_cast<size_t>(c) : 0;
        if (held == n && begin + n <= line->points.size() &&
            (n == 0 ||
             std::memcmp(&line->points[begin], op->points.data(), n * sizeof(HostVector)) == 0)) {
            s.nextSegment = i + 1;
            s.splines.emplace_back(op, i);
            s.measurers.emplace_back(m, op);
            s.lastSpline = nullptr;  // looked up again
            return i;
        }
        begin += held;
    }
    s.broken = true;
    return -1;
}

[[gnu::noinline]] void TraceSample(const HostAtom* op, double t, const HostVector& p) {
    SampleTrace::State& s = *t_trace;
    if (s.broken) return;
    if (op != s.lastSpline) {
        // The latest measuring of op wins: a freed work spline's address may come back.
        s.lastSpline = op;
        s.lastSegment = -1;
        s.lastMeasurer = nullptr;
        for (const auto& [spline, segment] : s.splines)
            if (spline == op) s.lastSegment = segment;
        for (const auto& [measurer, spline] : s.measurers)
            if (spline == op) s.lastMeasurer = measurer;
    }
    if (s.lastSegment < 0) {
        s.broken = true;
        return;
    }
    const HostMeasurer* m = s.lastMeasurer;
    const size_t n = op->points.size();
    const double edges = static_cast<double>(n < 2 ? 0 : (detail::IsClosed(op) ? n : n - 1));
    const double unit = !(t >= 0.0) ? 0.0 : (t > 1.0 ? 1.0 : t);
    try {
        s.samples.push_back(
            Sample{s.lastSegment, m != nullptr && m == s.asked ? s.uniform : NAN, unit * edges});
        s.evaluated.push_back(p);
    } catch (...) {
        s.broken = true;  // no trace is better than an exception in the plug-in
    }
}

double Distance(const HostVector& a, const HostVector& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// NaN becomes 0, everything else is clamped to 0..1.
double ClampUnit(double v) {
    if (!(v >= 0.0)) return 0.0;
    return v > 1.0 ? 1.0 : v;
}

// Keeps the arrays' storage: a measurer prepared again reuses it.
void Reset(HostMeasurer* m) {
    m->index.clear();
    m->kept = 0;
    m->edgeCount = 0;
    m->length = 0.0;
    m->ready = false;
    m->cursor = 0;
}

// Index of the last kept edge whose start is <= target. Starts never decrease and the first is
// 0, so that edge exists for every target >= 0. Queries mostly rise by a few edges (the samples
// of a dash): the next eight starts are counted, then the cursor walks and gallops; a query
// behind the cursor (the next piece starting over) searches the part before it.
size_t Locate(HostMeasurer* m, double target) {
    const double* start = m->start.get();
    const size_t n = m->kept;
    size_t k = m->cursor < n ? m->cursor : 0;
    if (start[k] > target) {
        k = static_cast<size_t>(std::upper_bound(start, start + k, target) - start) - 1;
    } else {
        if (k + 8 < n) {
            // The next eight starts, counted rather than walked: they are in order, so the count
            // of those <= target is how far to move, found without a branch to mispredict.
            size_t ahead = 0;
            for (size_t s = 1; s <= 8; ++s) ahead += start[k + s] <= target ? 1 : 0;
            k += ahead;
            if (ahead < 8) {
                m->cursor = k;
                return k;
            }
        }
        const size_t walk = n - k > 16 ? k + 16 : n;
        while (k + 1 < walk && start[k + 1] <= target) ++k;
        if (k + 1 == walk && walk < n && start[walk] <= target) {
            // Far ahead: double the stride until past the target, then search what is left.
            size_t lo = walk, step = 16, hi = lo + step;
            while (hi < n && start[hi] <= target) {
                lo = hi;
                step *= 2;
                hi = lo + step;
            }
            if (hi > n) hi = n;
            k = static_cast<size_t>(std::upper_bound(start + lo + 1, start + hi, target) - start) -
                1;
        }
    }
    m->cursor = k;
    return k;
}

// The per-sample entries record out of line, so that their usual path stays short.
[[gnu::noinline, gnu::cold]] void RecordSplinePoint(const HostAtom* op, int32_t seg, double t) {
    detail::Record("object.GetSplinePoint", op, {seg}, {t});
}
[[gnu::noinline, gnu::cold]] void RecordUniformToNatural(const HostMeasurer* m, double u) {
    detail::Record("measurer.UniformToNatural", m, {}, {u});
}

// ---- Object entry

// The point at t on the n points from p, the closing edge included when closed.
HostVector PointAt(const HostVector* p, size_t n, bool closed, double t) {
    if (n == 1) return p[0];
    // Signed counts convert to and from double in one instruction; the values are the same.
    const int64_t count = static_cast<int64_t>(n);
    const int64_t edges = closed ? count : count - 1;
    const double x = ClampUnit(t) * static_cast<double>(edges);
    // x is finite and >= 0: truncation is its floor, and floor(x) >= edges - 1 exactly when
    // x >= edges - 1.
    const int64_t i = x >= static_cast<double>(edges - 1) ? edges - 1 : static_cast<int64_t>(x);
    const double f = x - static_cast<double>(i);
    const HostVector& a = p[i];
    const HostVector& b = p[i + 1 == count ? 0 : i + 1];
    return HostVector{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
}

// Segments other than the first: their start is found by walking the records.
[[gnu::noinline]] HostVector PointOfSegment(const HostAtom* op, double t, int32_t seg,
                                            const HostVector* padr) {
    size_t begin = 0, n = 0;
    if (!detail::SegmentRange(op, op->points.size(), seg, &begin, &n) || n == 0)
        return HostVector{0.0, 0.0, 0.0};
    return PointAt((padr != nullptr ? padr : op->points.data()) + begin, n, detail::IsClosed(op),
                   t);
}

HostVector Evaluate(const HostAtom* op, double t, int32_t seg, const HostVector* padr);

HostVector GetSplinePoint(const HostAtom* op, double t, int32_t seg, const HostVector* padr) {
    if (t_trace == nullptr) return Evaluate(op, t, seg, padr);
    const HostVector p = Evaluate(op, t, seg, padr);
    if (op != t_trace->line && seg == 0) TraceSample(op, t, p);
    return p;
}

HostVector Evaluate(const HostAtom* op, double t, int32_t seg, const HostVector* padr) {
    if (detail::Recording()) RecordSplinePoint(op, seg, t);
    if (op == nullptr || !detail::HasPoints(op->type)) return HostVector{0.0, 0.0, 0.0};
    if (seg != 0) return PointOfSegment(op, t, seg, padr);
    // The first segment, the one work splines have: SegmentRange's answer without its walk.
    size_t n = op->points.size();
    if (detail::HasSegments(op->type) && !op->segments.empty()) {
        const int32_t cnt = op->segments[0].cnt;
        n = cnt > 0 ? std::min(static_cast<size_t>(cnt), n) : 0;
    }
    if (n == 0) return HostVector{0.0, 0.0, 0.0};
    return PointAt(padr != nullptr ? padr : op->points.data(), n, detail::IsClosed(op), t);
}

// ---- Measurer entries

HostMeasurer* MeasurerAlloc() {
    HostMeasurer* m = nullptr;
    if (!detail::ObjectAllocationFails()) {
        if (auto* kept = detail::FreeList<HostMeasurer>::Mine()) m = kept->Take();
        if (m == nullptr) m = new (std::nothrow) HostMeasurer();
        if (m != nullptr) detail::Created();
    }
    if (detail::Recording()) detail::Record("measurer.Alloc", m);
    return m;
}

void MeasurerFree(HostMeasurer* m) {
    if (detail::Recording()) detail::Record("measurer.Free", m);
    if (m == nullptr) return;
    detail::Destroyed();
    Reset(m);  // a kept measurer is handed out unprepared, its arrays' storage kept
    auto* kept = detail::FreeList<HostMeasurer>::Mine();
    if (kept == nullptr || !kept->Keep(m)) delete m;
}

// Records that kept edge k is edge i of the segment. The positions are written only from the
// first skipped edge on; before it they equal k.
bool KeepIndex(HostMeasurer* m, size_t k, size_t i) {
    try {
        if (m->index.empty()) {
            m->index.reserve(m->capacity);
            for (size_t j = 0; j < k; ++j) m->index.push_back(static_cast<int32_t>(j));
        }
        m->index.push_back(static_cast<int32_t>(i));
    } catch (...) {
        Reset(m);
        return false;
    }
    return true;
}

// The starts and lengths of the first edges, up to inner of them, while each has a length; the
// sum of their lengths in *sum. Returns how many. A function of its own, so that the running sum
// stays in a register: in MeasurerInit, whose general loop calls out, the compiler kept it in
// memory, a store and a load in the chain of every edge.
[[gnu::noinline]] size_t LeadingEdges(const HostVector* p, size_t inner, double* start,
                                      double* lens, double* sum) {
    double run = 0.0;
    size_t i = 0;
    for (; i < inner; ++i) {
        const double len = Distance(p[i], p[i + 1]);
        if (!(len > 0.0)) break;
        start[i] = run;
        lens[i] = len;
        run = run + len;
    }
    *sum = run;
    return i;
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
    if (t_trace != nullptr && src == op && seg == 0 && op != t_trace->line && !t_trace->broken)
        TraceMeasured(*t_trace, op, m);
    if (m->capacity < count) {
        // Left uninitialised: every entry read later is written below first.
        std::unique_ptr<double[]> start(new (std::nothrow) double[count]);
        std::unique_ptr<double[]> len(new (std::nothrow) double[count]);
        if (!start || !len) return 0;
        m->start = std::move(start);
        m->len = std::move(len);
        m->capacity = count;
    }
    double* start = m->start.get();
    double* lens = m->len.get();
    // While every edge has a length, kept edge i is edge i; the closing edge, if any, and
    // everything from the first edge without a length on go through the general loop below.
    double cum = 0.0;
    size_t i = LeadingEdges(p, std::min(count, n - 1), start, lens, &cum);
    size_t k = i;
    for (; i < count; ++i) {
        const double len = Distance(p[i], p[i + 1 == n ? 0 : i + 1]);
        // Zero-length edges are never where a length fraction lands; NaN lengths fail below.
        if (len > 0.0) {
            start[k] = cum;
            lens[k] = len;
            if (k != i && !KeepIndex(m, k, i)) return 0;
            ++k;
        }
        cum = cum + len;
    }
    if (!std::isfinite(cum)) {
        Reset(m);
        return 0;
    }
    m->kept = k;
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
    if (detail::Recording()) RecordUniformToNatural(m, u);
    if (t_trace != nullptr) {
        t_trace->asked = m;
        t_trace->uniform = u;
    }
    if (m == nullptr || !m->ready) return 0.0;
    u = ClampUnit(u);
    // No length: every parameter names the same point.
    if (m->kept == 0) return u;
    const double target = u * m->length;
    const size_t k = Locate(m, target);
    const double start = m->start[k], len = m->len[k];
    const int32_t index = m->index.empty() ? static_cast<int32_t>(k) : m->index[k];
    double f = (target - start) / len;
    f = f < 0.0 ? 0.0 : (f > 1.0 ? 1.0 : f);
    return ClampUnit((static_cast<double>(index) + f) / static_cast<double>(m->edgeCount));
}

}  // namespace

SampleTrace::SampleTrace(const HostAtom* line) : state_(std::make_unique<State>()) {
    state_->line = line;
    t_trace = state_.get();
}

SampleTrace::~SampleTrace() {
    if (t_trace == state_.get()) t_trace = nullptr;
}

std::vector<Sample> SampleTrace::Take(const HostAtom* dashed) {
    if (t_trace == state_.get()) t_trace = nullptr;
    State& s = *state_;
    std::vector<Sample> out;
    if (s.broken || dashed == nullptr || s.samples.size() != dashed->points.size()) return out;
    if (!s.samples.empty() && std::memcmp(s.evaluated.data(), dashed->points.data(),
                                          s.samples.size() * sizeof(HostVector)) != 0)
        return out;
    out.swap(s.samples);
    return out;
}

namespace detail {

size_t Footprint(const HostMeasurer& m) {
    return sizeof(HostMeasurer) + m.capacity * 2 * sizeof(double) +
           m.index.capacity() * sizeof(int32_t);
}

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

}  // namespace detail
}  // namespace hostmodel
