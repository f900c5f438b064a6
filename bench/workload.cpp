// The benchmarks' inputs and the floor: a minimal resampler laid out by the same dash pattern.
#include "workload.h"

#include <algorithm>
#include <cmath>

namespace bench {
namespace {

// splitmix64: the same inputs on every platform and standard library.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }  // [0, 1)
    double Range(double lo, double hi) { return lo + (hi - lo) * Unit(); }
};

constexpr double kPi = 3.14159265358979323846;

}  // namespace

Input MakeInput(int32_t segments, int32_t pointsPerSegment, uint64_t seed) {
    Input in;
    Random r{seed};
    in.points.reserve(static_cast<size_t>(segments) * static_cast<size_t>(pointsPerSegment));
    for (int32_t s = 0; s < segments; ++s) {
        in.counts.push_back(pointsPerSegment);
        if (s % 2 == 0) {
            // Random walk: steps of 0.1 to 1 in any direction.
            double x = r.Range(-1000, 1000), y = r.Range(-1000, 1000);
            for (int32_t i = 0; i < pointsPerSegment; ++i) {
                in.points.push_back({x, y, 0.0});
                const double angle = r.Range(0, 2 * kPi), step = r.Range(0.1, 1.0);
                x += std::cos(angle) * step;
                y += std::sin(angle) * step;
            }
        } else {
            // Noisy circle: radius 5 to 50, 5 % radial noise, a little angular jitter.
            const double cx = r.Range(-1000, 1000), cy = r.Range(-1000, 1000);
            const double radius = r.Range(5, 50);
            for (int32_t i = 0; i < pointsPerSegment; ++i) {
                const double angle = (i + r.Range(-0.3, 0.3)) * 2 * kPi / pointsPerSegment;
                const double rr = radius * (1.0 + r.Range(-0.05, 0.05));
                in.points.push_back({cx + rr * std::cos(angle), cy + rr * std::sin(angle), 0.0});
            }
        }
    }
    return in;
}

dash::Plan MakePlan(const Input& in, const dash::DashSettings& s) {
    // Each segment measured as a host measures it; one that cannot be read has length 0.
    std::vector<double> lengths;
    dash::SegmentWalk walk(static_cast<int64_t>(in.points.size()));
    for (const int32_t count : in.counts) {
        int64_t first = 0;
        const bool readable = walk.Next(count, &first);
        lengths.push_back(readable ? dash::PolylineLength(in.points.data() + first, count, s.closed)
                                   : 0.0);
    }
    dash::Plan plan;
    dash::PlanSink sink(plan);
    dash::PlanPass(s, lengths, sink);
    return plan;
}

int64_t RunFloor(const Input& in, const dash::Plan& plan, bool closed, FloorBuffers& out,
                 bool tuned) {
    int32_t longest = 0;
    for (int32_t c : in.counts) longest = std::max(longest, c);
    if (out.cum.size() < static_cast<size_t>(longest) + 1)
        out.cum.resize(static_cast<size_t>(longest) + 1);
    if (out.points.size() < plan.u.size()) out.points.resize(plan.u.size());
    if (out.segments.size() < plan.pieces.size()) out.segments.resize(plan.pieces.size());

    const HostVector* points = in.points.data();
    const double* u = plan.u.data();
    double* cum = out.cum.data();
    HostVector* dst = out.points.data();
    HostSegment* records = out.segments.data();
    int64_t E = 0, w = 0;
    const size_t segments = in.counts.size();
    for (size_t j = 0; j < segments; ++j) {
        const int32_t F = in.counts[j];
        const HostVector* p = points + E;
        E += F;
        const int32_t edges = F < 2 ? 0 : (closed ? F : F - 1);
        // Measure: prefix sums of the edge lengths.
        cum[0] = 0.0;
        for (int32_t i = 0; i < edges; ++i) {
            const HostVector& a = p[i];
            const HostVector& b = p[i + 1 == F ? 0 : i + 1];
            const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
            cum[i + 1] = cum[i] + std::sqrt(dx * dx + dy * dy + dz * dz);
        }
        if (edges == 0) continue;
        const double L = cum[edges];
        // Map and evaluate: the cursor only moves forward within a run of increasing u.
        int32_t c = 0;
        for (int64_t k = plan.segmentU[j]; k < plan.segmentU[j + 1]; ++k) {
            const double target = u[k] * L;
            if (target < cum[c]) c = 0;
            if (tuned && c + 8 < edges) {
                int32_t ahead = 0;
                for (int32_t s = 1; s <= 8; ++s) ahead += cum[c + s] <= target ? 1 : 0;
                c += ahead;
            }
            while (c + 1 < edges && cum[c + 1] <= target) ++c;
            const double len = cum[c + 1] - cum[c];
            const double f = len > 0.0 ? (target - cum[c]) / len : 0.0;
            const HostVector& a = p[c];
            const HostVector& b = p[c + 1 == F ? 0 : c + 1];
            dst[w++] =
                HostVector{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
        }
        for (int64_t q = plan.segmentPiece[j]; q < plan.segmentPiece[j + 1]; ++q)
            records[q] = HostSegment{plan.pieces[static_cast<size_t>(q)], 0};
    }
    return w;
}

}  // namespace bench
