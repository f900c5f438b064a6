// The modify operation on arbitrary line objects (counts that do not match the points, non-finite
// and extreme coordinates) with arbitrary containers (every parameter id absent, or present with
// any type and value), against the host model, checking what every evaluation must give.
//
// Input layout (FuzzedDataProvider): flags, segment records, points, then one choice per
// parameter id 1000..1011. Sizes are capped (64 records, 512 points) so one run stays cheap;
// huge counts stay cheap because the model refuses single blocks above kBlockLimit.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "host_model.h"
#include "korrand.h"
#include "okorrand.h"

namespace {

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "fuzz_modify: check failed at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

constexpr size_t kMaxSegments = 64;
constexpr size_t kMaxPoints = 512;
// Larger than the plug-in's output point block (12288 points), smaller than anything slow.
constexpr int64_t kBlockLimit = int64_t(1) << 20;
// Above this many expected host calls the call recorder is left off (it keeps every call).
constexpr int64_t kRecordBudget = 50000;

const HostFunctionTable& T() { return *hostmodel::Table(); }

double FromBits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

double PickReal(FuzzedDataProvider& in) {
    static const double kSpecial[] = {0.0,     -0.0,         1.0,           -1.0,
                                      0.5,     0.25,         0.75,          0.001,
                                      0.9995,  NAN,          -NAN,          INFINITY,
                                      -INFINITY, DBL_MAX,    -DBL_MAX,      DBL_MIN,
                                      DBL_TRUE_MIN, -DBL_TRUE_MIN, 1e300,   -1e300,
                                      1e-300,  4294967296.75, 2147483648.0, -2147483649.0,
                                      0x1p52,  0x1p53 + 2.0, 0x1p52 + 0.5,  10.0};
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
    static const int32_t kSpecial[] = {0,       1,         -1,        2,        -2,     3,
                                       100,     10000,     98,        99,       65535,  65536,
                                       1 << 30, (1 << 30) - 1, INT32_MAX, INT32_MIN,
                                       INT32_MAX - 1, INT32_MIN + 1, -1000000, 1 << 24};
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
};

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

struct Run {
    bool ok = false;
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    std::vector<hostmodel::Call> calls;
};

Run Evaluate(NodeData* obj, HostAtom* node, const Input& input, bool record) {
    HostAtom* op = NewLine(input);
    if (input.failKind == 1) hostmodel::FailAllocationNumber(input.failAt);
    if (input.failKind == 2) hostmodel::FailObjectAllocations(input.failAt);
    if (record) hostmodel::StartRecording();
    Run r;
    r.ok = static_cast<ObjectData*>(obj)->ModifyObject(
        reinterpret_cast<BaseObject*>(node), nullptr, reinterpret_cast<BaseObject*>(op), nullptr,
        nullptr, 1.0, 0, nullptr);
    if (record) r.calls = hostmodel::StopRecording();
    hostmodel::FailAllocationNumber(0);
    hostmodel::FailObjectAllocations(0);
    r.points = hostmodel::Points(op);
    r.segments = hostmodel::Segments(op);
    hostmodel::FreeObject(op);
    return r;
}

bool SameBits(const Run& a, const Run& b) {
    if (a.ok != b.ok || a.points.size() != b.points.size() || a.segments.size() != b.segments.size())
        return false;
    if (!a.points.empty() &&
        std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(HostVector)) != 0)
        return false;
    return a.segments.empty() || std::memcmp(a.segments.data(), b.segments.data(),
                                             a.segments.size() * sizeof(HostSegment)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_hostTable = hostmodel::Table();
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

    // What the parameters mean, read through the host's own conversions.
    double start = T().container.GetReal(bc, KORRAND_START, 0.0);
    double end = T().container.GetReal(bc, KORRAND_END, 0.0);
    if (std::isnan(start)) start = 0.0;
    if (std::isnan(end)) end = 1.0;
    start = std::min(1.0, std::max(0.0, start));
    end = std::min(1.0, std::max(0.0, end));
    const bool emptyRange = std::fabs(end - start) < 0.001;
    const bool closed = T().container.GetBool(bc, KORRAND_CLOSED, 0) != 0;
    const int32_t count = T().container.GetLong(bc, KORRAND_COUNT, 0);
    bool finiteParameters = true;
    for (int32_t id : {KORRAND_OFFSET, KORRAND_START, KORRAND_END, KORRAND_JITTER})
        finiteParameters = finiteParameters && std::isfinite(T().container.GetReal(bc, id, 0.0));

    // Host calls to expect at most: the divisions the host can hold, halved, per record, each
    // dash with up to subdivision + 2 samples (at most 100).
    const int64_t divisions = std::min<int64_t>(std::max<int64_t>(2 * int64_t(count), 1),
                                                kBlockLimit / int64_t(sizeof(double)));
    const int64_t subdivision = T().container.GetLong(bc, KORRAND_SUBDIVISION, 0);
    const int64_t samples = std::min<int64_t>(100, std::max<int64_t>(2, subdivision + 2)) + 2;
    const bool record = int64_t(segCount) * (divisions / 2 + 1) * samples <= kRecordBudget;

    const Run r = Evaluate(obj, node, input, record);
    if (std::getenv("FUZZ_MODIFY_VERBOSE") != nullptr)
        std::fprintf(stderr, "%zu records, %zu points, count %d, range %g..%g, closed %d -> ok %d, "
                     "%zu dashes, %zu points%s\n", input.segments.size(), input.points.size(),
                     count, start, end, closed, r.ok, r.segments.size(), r.points.size(),
                     record ? "" : " (not recorded)");

    if (emptyRange) {
        FUZZ_CHECK(r.ok == !input.resizeFails);
        if (!input.resizeFails) FUZZ_CHECK(r.points.empty() && r.segments.empty());
        for (const auto& c : r.calls) FUZZ_CHECK(c.op != "object.SplineAlloc");
    } else {
        FUZZ_CHECK(r.ok);
    }
    if (input.resizeFails) {
        // Nothing could be written: the object is exactly as it came in.
        FUZZ_CHECK(r.points.size() == input.points.size());
        FUZZ_CHECK(r.segments.size() == input.segments.size());
    } else {
        int64_t sum = 0;
        for (const HostSegment& s : r.segments) {
            FUZZ_CHECK(s.cnt >= 2);
            FUZZ_CHECK(s.closed == 0);
            sum += s.cnt;
        }
        FUZZ_CHECK(sum == static_cast<int64_t>(r.points.size()));
    }

    if (!input.resizeFails && AllFinite(input.points) && finiteParameters && !r.points.empty()) {
        for (const HostVector& p : r.points)
            FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
        if (record) {
            // Each readable record, in order, is copied into one work spline; its measurer names
            // the record every sample came from (addresses of freed measurers may come back, so
            // the latest Init wins).
            std::vector<std::pair<size_t, size_t>> readable;  // first point, count
            int64_t at = 0;
            for (const HostSegment& s : input.segments) {
                if (s.cnt < 0) continue;
                if (at + s.cnt <= static_cast<int64_t>(input.points.size()))
                    readable.emplace_back(static_cast<size_t>(at), static_cast<size_t>(s.cnt));
                at += s.cnt;
            }
            std::map<const void*, size_t> recordOf;
            std::vector<const void*> sampleMeasurer;
            size_t allocs = 0;
            for (const auto& c : r.calls) {
                if (c.op == "object.SplineAlloc") {
                    FUZZ_CHECK(allocs < readable.size());
                    FUZZ_CHECK(c.ints.at(0) == static_cast<int64_t>(readable[allocs].second));
                    ++allocs;
                } else if (c.op == "measurer.Init") {
                    FUZZ_CHECK(allocs > 0);
                    recordOf[c.handle] = allocs - 1;
                } else if (c.op == "measurer.UniformToNatural") {
                    sampleMeasurer.push_back(c.handle);
                }
            }
            // Every sample written was looked up once; when the host refused room for some, the
            // lookups of the dropped pieces are in the list too and the mapping is lost.
            FUZZ_CHECK(sampleMeasurer.size() >= r.points.size());
            if (sampleMeasurer.size() == r.points.size()) {
                for (size_t i = 0; i < r.points.size(); ++i) {
                    auto it = recordOf.find(sampleMeasurer[i]);
                    FUZZ_CHECK(it != recordOf.end());
                    const auto& seg = readable[it->second];
                    if (!OnPolyline(r.points[i], input.points.data() + seg.first, seg.second,
                                    closed)) {
                        std::fprintf(stderr, "point %zu (%g %g %g) is off record %zu\n", i,
                                     r.points[i].x, r.points[i].y, r.points[i].z, it->second);
                        FUZZ_CHECK(false);
                    }
                }
            }
        } else {
            // Too many calls to keep: a sample of the points against the union of the records.
            const size_t step = std::max<size_t>(1, r.points.size() / 256);
            for (size_t i = 0; i < r.points.size(); i += step) {
                bool on = false;
                int64_t at = 0;
                for (const HostSegment& s : input.segments) {
                    if (s.cnt < 0) continue;
                    if (at + s.cnt <= static_cast<int64_t>(input.points.size()) &&
                        OnPolyline(r.points[i], input.points.data() + at, s.cnt, closed)) {
                        on = true;
                        break;
                    }
                    at += s.cnt;
                }
                FUZZ_CHECK(on);
            }
        }
    }

    if (input.failKind == 0) {
        // Same input, same bits.
        const Run again = Evaluate(obj, node, input, false);
        FUZZ_CHECK(SameBits(r, again));
    }

    delete obj;
    hostmodel::FreeObject(node);
    FUZZ_CHECK(hostmodel::Memory().liveBlocks == blocks0);
    FUZZ_CHECK(hostmodel::LiveObjects() == objects0);
    return 0;
}
