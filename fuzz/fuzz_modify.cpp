// The modify operation on arbitrary line objects (counts that do not match the points, non-finite
// and extreme coordinates) with arbitrary containers (every parameter id absent, or present with
// any type and value), against the host model, checking what every evaluation must give.
//
// Input layout (FuzzedDataProvider): flags, segment records, points, one choice per parameter id
// 1000..1011, then the host's block limit. Sizes are capped (64 records, 512 points) and so is
// the work one input may ask for (kSampleBudget), so that every run stays cheap: huge counts stay
// cheap because the model refuses single blocks above the block limit, and a small block limit
// reaches the refusal of output blocks.
//
// Where nothing was refused, the uniform parameters the plug-in hands the measurer are checked
// against the dash pattern laid out here from the same lengths.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dash_plan.h"
#include "host_model.h"
#include "korrand.h"
#include "okorrand.h"

namespace {

#define FUZZ_CHECK(cond)                                                                         \
    do {                                                                                         \
        if (!(cond)) {                                                                           \
            std::fprintf(stderr, "fuzz_modify: check failed at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

constexpr size_t kMaxSegments = 64;
constexpr size_t kMaxPoints = 512;
// Larger than the plug-in's output point block, smaller than anything slow.
constexpr int64_t kBlockLimit = int64_t(1) << 20;
static_assert(kOutputPointBlock * int64_t(sizeof(HostVector)) < kBlockLimit,
              "the usual limit grants the output's blocks");
// Smaller than the output point block: every output append is refused, and divisions are refused
// from 2048 per segment on.
constexpr int64_t kSmallBlockLimit = int64_t(1) << 14;
static_assert(kOutputPointBlock * int64_t(sizeof(HostVector)) > kSmallBlockLimit,
              "the small limit refuses the output's blocks");
// Samples one evaluation may ask for: a count that would lay out more, with a division block the
// host would grant, is lowered to fit. Counts whose division block the host refuses are kept.
constexpr int64_t kSampleBudget = 1024;

const HostFunctionTable& T() {
    return *hostmodel::Table();
}

double FromBits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

double PickReal(FuzzedDataProvider& in) {
    static const double kSpecial[] = {
        0.0,       -0.0,         1.0,          -1.0,          0.5,          0.25,
        0.75,      0.001,        0.9995,       NAN,           -NAN,         INFINITY,
        -INFINITY, DBL_MAX,      -DBL_MAX,     DBL_MIN,       DBL_TRUE_MIN, -DBL_TRUE_MIN,
        1e300,     -1e300,       1e-300,       4294967296.75, 2147483648.0, -2147483649.0,
        0x1p52,    0x1p53 + 2.0, 0x1p52 + 0.5, 10.0};
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return kSpecial[in.ConsumeIntegralInRange<size_t>(0, std::size(kSpecial) - 1)];
        case 1:
            return in.ConsumeIntegral<int16_t>() / 256.0;
        case 2:
            return in.ConsumeFloatingPoint<double>();
        default:
            return FromBits(in.ConsumeIntegral<uint64_t>());
    }
}

int32_t PickLong(FuzzedDataProvider& in) {
    static const int32_t kSpecial[] = {0,
                                       1,
                                       -1,
                                       2,
                                       -2,
                                       3,
                                       100,
                                       10000,
                                       98,
                                       99,
                                       65535,
                                       65536,
                                       1 << 30,
                                       (1 << 30) - 1,
                                       INT32_MAX,
                                       INT32_MIN,
                                       INT32_MAX - 1,
                                       INT32_MIN + 1,
                                       -1000000,
                                       1 << 24};
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            return kSpecial[in.ConsumeIntegralInRange<size_t>(0, std::size(kSpecial) - 1)];
        case 1:
            return in.ConsumeIntegral<int8_t>();
        default:
            return in.ConsumeIntegral<int32_t>();
    }
}

double PickCoordinate(FuzzedDataProvider& in) {
    // Mostly ordinary drawings; now and then anything at all.
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) return in.ConsumeIntegral<int16_t>() / 16.0;
    return PickReal(in);
}

int32_t PickSegmentCount(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return PickLong(in);
        case 1:
            return -in.ConsumeIntegralInRange<int32_t>(0, 4);
        default:
            return in.ConsumeIntegralInRange<int32_t>(0, 16);
    }
}

struct Input {
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    bool resizeFails = false;
    int failKind = 0;  // 0 none, 1 memory allocation number, 2 object allocation number
    int64_t failAt = 0;
    int64_t blockLimit = kBlockLimit;
};

// Segments the plug-in can read: first point and count, in order.
std::vector<std::pair<size_t, size_t>> Readable(const Input& input) {
    std::vector<std::pair<size_t, size_t>> readable;
    dash::SegmentWalk walk(static_cast<int64_t>(input.points.size()));
    for (const HostSegment& s : input.segments) {
        int64_t first = 0;
        if (walk.Next(s.cnt, &first))
            readable.emplace_back(static_cast<size_t>(first), static_cast<size_t>(s.cnt));
    }
    return readable;
}

// Every uniform parameter the plug-in should hand the measurer, in order.
std::vector<double> PlannedUniforms(const Input& input,
                                    const std::vector<std::pair<size_t, size_t>>& readable,
                                    const dash::DashSettings& s) {
    std::vector<double> lengths;
    for (const auto& [first, n] : readable)
        lengths.push_back(dash::PolylineLength(input.points.data() + first, n, s.closed));
    // The host refuses whole blocks: the divisions come in one block of the base division count,
    // the pieces and the output points in the plug-in's own blocks.
    dash::Plan plan;
    dash::PlanSink sink(plan);
    const dash::PassLayout layout = dash::LayoutFor(s);
    sink.divisions.blockBytes = int64_t(layout.baseDivisions) * int64_t(sizeof(double));
    sink.first.blockBytes = sink.second.blockBytes = kPieceBlock * int64_t(sizeof(double));
    sink.outputBlockBytes = kOutputPointBlock * int64_t(sizeof(HostVector));
    sink.divisions.limit = sink.first.limit = sink.second.limit = sink.limit = input.blockLimit;
    dash::PlanPass(s, lengths, sink);
    return plan.u;
}

// Reads every parameter choice straight into the node's container.
void FillContainer(FuzzedDataProvider& in, HostContainer* bc) {
    for (int32_t id = 1000; id <= 1011; ++id) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0:
                break;  // the default the object wrote
            case 1:
                hostmodel::Erase(bc, id);
                break;
            case 2:
                T().container.SetLong(bc, id, PickLong(in));
                break;
            case 3:
                T().container.SetBool(bc, id, PickLong(in));
                break;
            default:
                T().container.SetReal(bc, id, PickReal(in));
                break;
        }
    }
}

HostAtom* NewLine(const Input& input) {
    HostAtom* op = hostmodel::NewObject(hostmodel::Oline);
    hostmodel::SetPoints(op, input.points);
    hostmodel::SetSegments(op, input.segments);
    hostmodel::SetResizeFails(op, input.resizeFails);
    return op;
}

bool AllFinite(const std::vector<HostVector>& pts) {
    for (const HostVector& p : pts)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    return true;
}

// Distance from p to the polyline through pts (closed: with the edge back to the start),
// computed after scaling everything by a power of two that brings the largest coordinate near 1,
// so neither huge nor denormal coordinates overflow or underflow; returned in that scale.
double ScaledDistance(const HostVector& p, const HostVector* pts, size_t n, bool closed,
                      double* scale) {
    double size = 0.0;
    for (size_t i = 0; i < n; ++i)
        size = std::max({size, std::fabs(pts[i].x), std::fabs(pts[i].y), std::fabs(pts[i].z)});
    int e = 0;
    std::frexp(size, &e);
    *scale = std::ldexp(1.0, -e);
    auto S = [&](const HostVector& v) {
        return HostVector{std::ldexp(v.x, -e), std::ldexp(v.y, -e), std::ldexp(v.z, -e)};
    };
    const HostVector q = S(p);
    double best = INFINITY;
    const size_t edges = n < 2 ? 0 : (closed ? n : n - 1);
    for (size_t i = 0; i < edges; ++i) {
        const HostVector a = S(pts[i]);
        const HostVector b = S(pts[(i + 1) % n]);
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double len2 = dx * dx + dy * dy + dz * dz;
        double t = len2 > 0 ? ((q.x - a.x) * dx + (q.y - a.y) * dy + (q.z - a.z) * dz) / len2 : 0;
        t = std::min(1.0, std::max(0.0, t));
        const double ex = a.x + dx * t - q.x, ey = a.y + dy * t - q.y, ez = a.z + dz * t - q.z;
        best = std::min(best, std::sqrt(ex * ex + ey * ey + ez * ez));
    }
    return best;
}

bool OnPolyline(const HostVector& p, const HostVector* pts, size_t n, bool closed) {
    double scale = 1.0;
    return ScaledDistance(p, pts, n, closed, &scale) <= 1e-9;
}

// The host calls the checks need, taken by entries of a copy of the host's table that note the
// call and pass it on: far cheaper than the model's call recorder, which keeps every call.
struct Trace {
    std::vector<int32_t> splineAllocs;               // point count of each work spline, in order
    std::vector<std::pair<const void*, int>> inits;  // measurer, index of the work spline before it
    std::vector<double> uniforms;                    // every u handed to a measurer, in order
    std::vector<int> uniformRecord;                  // the work spline each u was measured on
};
Trace g_trace;
HostFunctionTable g_tracedTable;

HostAtom* TracedSplineAlloc(int32_t pcnt, int32_t type) {
    g_trace.splineAllocs.push_back(pcnt);
    return hostmodel::Table()->object.SplineAlloc(pcnt, type);
}
int32_t TracedMeasurerInit(HostMeasurer* m, const HostAtom* op, int32_t seg,
                           const HostAtom* override_) {
    g_trace.inits.emplace_back(m, static_cast<int>(g_trace.splineAllocs.size()) - 1);
    return hostmodel::Table()->measurer.Init(m, op, seg, override_);
}
double TracedUniformToNatural(HostMeasurer* m, double u) {
    g_trace.uniforms.push_back(u);
    // Addresses of freed measurers may come back: the latest Init wins.
    int record = -1;
    for (auto it = g_trace.inits.rbegin(); it != g_trace.inits.rend(); ++it)
        if (it->first == m) {
            record = it->second;
            break;
        }
    g_trace.uniformRecord.push_back(record);
    return hostmodel::Table()->measurer.UniformToNatural(m, u);
}

struct Run {
    bool ok = false;
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    Trace trace;
};

Run Evaluate(NodeData* obj, HostAtom* node, const Input& input) {
    HostAtom* op = NewLine(input);
    if (input.failKind == 1) hostmodel::FailAllocationNumber(input.failAt);
    if (input.failKind == 2) hostmodel::FailObjectAllocations(input.failAt);
    g_trace = Trace();
    Run r;
    r.ok = static_cast<ObjectData*>(obj)->ModifyObject(reinterpret_cast<BaseObject*>(node), nullptr,
                                                       reinterpret_cast<BaseObject*>(op), nullptr,
                                                       nullptr, 1.0, 0, nullptr);
    r.trace = std::move(g_trace);
    hostmodel::FailAllocationNumber(0);
    hostmodel::FailObjectAllocations(0);
    r.points = hostmodel::Points(op);
    r.segments = hostmodel::Segments(op);
    hostmodel::FreeObject(op);
    return r;
}

bool SameBits(const Run& a, const Run& b) {
    if (a.ok != b.ok || a.points.size() != b.points.size() ||
        a.segments.size() != b.segments.size())
        return false;
    if (!a.points.empty() &&
        std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(HostVector)) != 0)
        return false;
    return a.segments.empty() || std::memcmp(a.segments.data(), b.segments.data(),
                                             a.segments.size() * sizeof(HostSegment)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_tracedTable = *hostmodel::Table();
    g_tracedTable.object.SplineAlloc = TracedSplineAlloc;
    g_tracedTable.measurer.Init = TracedMeasurerInit;
    g_tracedTable.measurer.UniformToNatural = TracedUniformToNatural;
    g_hostTable = &g_tracedTable;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    hostmodel::ResetFaults();
    hostmodel::SetMaxBlockSize(kBlockLimit);
    const int64_t blocks0 = hostmodel::Memory().liveBlocks;
    const int64_t objects0 = hostmodel::LiveObjects();

    Input input;
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    input.resizeFails = (flags & 0x0f) == 0x0f;
    if ((flags & 0x30) == 0x30) {
        input.failKind = (flags & 0x40) ? 2 : 1;
        input.failAt = in.ConsumeIntegralInRange<int64_t>(1, 64);
    }
    const size_t segCount = in.ConsumeIntegralInRange<size_t>(0, kMaxSegments);
    for (size_t i = 0; i < segCount; ++i)
        input.segments.push_back(HostSegment{PickSegmentCount(in), in.ConsumeIntegral<int8_t>()});
    const size_t pointCount = in.ConsumeIntegralInRange<size_t>(0, kMaxPoints);
    for (size_t i = 0; i < pointCount && in.remaining_bytes() > 0; ++i) {
        const double x = PickCoordinate(in), y = PickCoordinate(in);
        const double z = (flags & 0x80) ? PickCoordinate(in) : 0.0;
        input.points.push_back(HostVector{x, y, z});
    }

    HostAtom* node = hostmodel::NewObject(ID_KORRAND);
    NodeData* obj = AllocKorrandObject();
    FUZZ_CHECK(obj != nullptr);
    obj->Init(reinterpret_cast<GeListNode*>(node));
    HostContainer* bc = hostmodel::Container(node);
    FillContainer(in, bc);

    input.blockLimit =
        (in.ConsumeIntegral<uint8_t>() & 0x07) == 0x07 ? kSmallBlockLimit : kBlockLimit;
    hostmodel::SetMaxBlockSize(input.blockLimit);

    // What the parameters mean, read through the host's own conversions.
    dash::DashSettings s;
    s.offset = T().container.GetReal(bc, KORRAND_OFFSET, 0.0);
    s.closed = T().container.GetBool(bc, KORRAND_CLOSED, 0) != 0;
    s.count = T().container.GetLong(bc, KORRAND_COUNT, 0);
    s.seed = T().container.GetLong(bc, KORRAND_SEED, 0);
    s.jitter = T().container.GetReal(bc, KORRAND_JITTER, 0.0);
    s.subdivision = T().container.GetLong(bc, KORRAND_SUBDIVISION, 0);
    s.relative = T().container.GetBool(bc, KORRAND_RELATIVE, 0) != 0;
    s.start = T().container.GetReal(bc, KORRAND_START, 0.0);
    s.end = T().container.GetReal(bc, KORRAND_END, 0.0);

    // Keep the work bounded: at most count dashes per readable segment, each with up to the
    // sample bound plus the cut. A count whose division block the host refuses lays out nothing.
    const auto readable = Readable(input);  // first point, count
    const int64_t segmentsRead = static_cast<int64_t>(readable.size());
    const int64_t perDash =
        std::min<int64_t>(dash::kMaxSamples,
                          std::max<int64_t>(dash::kMinSamples, int64_t(s.subdivision) + 2)) +
        1;
    const int64_t divisionBytes = std::max<int64_t>(2 * int64_t(s.count), 1) * 8;
    if (divisionBytes <= input.blockLimit && s.count > 0 &&
        segmentsRead * int64_t(s.count) * perDash > kSampleBudget) {
        s.count = static_cast<int32_t>(
            std::max<int64_t>(1, kSampleBudget / (std::max<int64_t>(segmentsRead, 1) * perDash)));
        T().container.SetLong(bc, KORRAND_COUNT, s.count);
    }
    const int32_t count = s.count;
    bool finiteParameters = true;
    for (int32_t id : {KORRAND_OFFSET, KORRAND_START, KORRAND_END, KORRAND_JITTER})
        finiteParameters = finiteParameters && std::isfinite(T().container.GetReal(bc, id, 0.0));
    const bool closed = s.closed;
    const bool emptyRange = !dash::NormaliseRange(s);
    const double start = s.start, end = s.end;
    const Run r = Evaluate(obj, node, input);
    if (std::getenv("FUZZ_MODIFY_VERBOSE") != nullptr)
        std::fprintf(stderr,
                     "%zu records, %zu points, count %d, range %g..%g, closed %d -> ok %d, "
                     "%zu dashes, %zu points\n",
                     input.segments.size(), input.points.size(), count, start, end, closed, r.ok,
                     r.segments.size(), r.points.size());

    if (!emptyRange && input.failKind == 0) {
        // The plug-in hands the measurer exactly the dash pattern's parameters, in order.
        const std::vector<double>& uniforms = r.trace.uniforms;
        const std::vector<double> planned = PlannedUniforms(input, readable, s);
        FUZZ_CHECK(uniforms.size() == planned.size());
        FUZZ_CHECK(uniforms.empty() || std::memcmp(uniforms.data(), planned.data(),
                                                   planned.size() * sizeof(double)) == 0);
    }

    if (emptyRange) {
        FUZZ_CHECK(r.ok == !input.resizeFails);
        if (!input.resizeFails) FUZZ_CHECK(r.points.empty() && r.segments.empty());
        FUZZ_CHECK(r.trace.splineAllocs.empty());
    } else {
        FUZZ_CHECK(r.ok);
    }
    if (input.resizeFails) {
        // Nothing could be written: the object is exactly as it came in.
        FUZZ_CHECK(r.points.size() == input.points.size());
        FUZZ_CHECK(r.segments.size() == input.segments.size());
    } else {
        int64_t sum = 0;
        for (const HostSegment& written : r.segments) {
            FUZZ_CHECK(written.cnt >= 2);
            FUZZ_CHECK(written.closed == 0);
            sum += written.cnt;
        }
        FUZZ_CHECK(sum == static_cast<int64_t>(r.points.size()));
    }

    if (!input.resizeFails && AllFinite(input.points) && finiteParameters && !r.points.empty()) {
        for (const HostVector& p : r.points)
            FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
        // Each readable record, in order, is copied into one work spline; the measurer of each
        // sample names the record it came from.
        const Trace& trace = r.trace;
        FUZZ_CHECK(trace.splineAllocs.size() <= readable.size());
        for (size_t i = 0; i < trace.splineAllocs.size(); ++i)
            FUZZ_CHECK(trace.splineAllocs[i] == static_cast<int32_t>(readable[i].second));
        // Every sample written was looked up once; when the host refused room for some, the
        // lookups of the dropped pieces are in the list too and the mapping is lost.
        FUZZ_CHECK(trace.uniforms.size() >= r.points.size());
        if (trace.uniforms.size() == r.points.size()) {
            for (size_t i = 0; i < r.points.size(); ++i) {
                const int record = trace.uniformRecord[i];
                FUZZ_CHECK(record >= 0);
                const auto& seg = readable[static_cast<size_t>(record)];
                if (!OnPolyline(r.points[i], input.points.data() + seg.first, seg.second, closed)) {
                    std::fprintf(stderr, "point %zu (%g %g %g) is off record %d\n", i,
                                 r.points[i].x, r.points[i].y, r.points[i].z, record);
                    FUZZ_CHECK(false);
                }
            }
        }
    }

    if (input.failKind == 0) {
        // Same input, same calls and the same bits.
        const Run again = Evaluate(obj, node, input);
        FUZZ_CHECK(SameBits(r, again));
        FUZZ_CHECK(again.trace.uniforms.size() == r.trace.uniforms.size());
    }

    delete obj;
    hostmodel::FreeObject(node);
    FUZZ_CHECK(hostmodel::Memory().liveBlocks == blocks0);
    FUZZ_CHECK(hostmodel::LiveObjects() == objects0);
    return 0;
}
