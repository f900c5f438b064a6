// The dash pattern laid out into standard containers: what the plug-in hands its measurers, for
// the benchmark floor, the tests and the fuzz target to compare with. The plug-in itself never
// includes this file (it keeps all its memory in the host's arrays).
#ifndef KORRAND_DASH_PLAN_H
#define KORRAND_DASH_PLAN_H

#include <math.h>
#include <stdint.h>

#include <vector>

#include "dash_pattern.h"
#include "ge_sort.h"
#include "seeded_random.h"

namespace dash {

// The length a host measurer reports for n points (closed: with the edge back to the first):
// each edge's length added in order, so that a plan matches the plug-in's to the bit.
template <class Point>
double PolylineLength(const Point* p, int64_t n, bool closed) {
    const int64_t edges = n < 2 ? 0 : (closed ? n : n - 1);
    double sum = 0.0;
    for (int64_t i = 0; i < edges; ++i) {
        const Point& a = p[i];
        const Point& b = p[i + 1 == n ? 0 : i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        sum = sum + sqrt(dx * dx + dy * dy + dz * dz);
    }
    return sum;
}

// A pattern array over std::vector. It refuses every value, as the host refuses the block, when
// one block of the array (blockBytes) is larger than the host grants (limit).
struct PlanValues {
    std::vector<double> v;
    int64_t blockBytes = 0;
    int64_t limit = INT64_MAX;
    void SetEmpty() { v.clear(); }
    bool Append(double x) {
        if (blockBytes > limit) return false;
        v.push_back(x);
        return true;
    }
    int64_t GetCount() const { return static_cast<int64_t>(v.size()); }
    double* GetData() { return v.data(); }
};

// Every uniform parameter in output order, the point count of each piece, and where the share
// of each segment handed to the pass begins in both (one entry per segment, then the end).
struct Plan {
    std::vector<double> u;
    std::vector<int32_t> pieces;
    std::vector<int64_t> segmentU;
    std::vector<int64_t> segmentPiece;
};

// Collects the pieces of kept segments into a plan.
struct PlanSink {
    explicit PlanSink(Plan& out) : plan(out) {}
    Plan& plan;
    PlanValues divisions, first, second;
    // When the output's first block of points is larger than the host grants, the first piece
    // is refused and nothing more is laid out, as in the plug-in.
    int64_t outputBlockBytes = 0;
    int64_t limit = INT64_MAX;
    bool outputRefused = false;

    bool Stopped() const { return outputRefused; }
    void Emit(const PlanValues& piece) {
        if (piece.v.size() <= 1) return;
        if (outputBlockBytes > limit) {
            outputRefused = true;
            return;
        }
        plan.u.insert(plan.u.end(), piece.v.begin(), piece.v.end());
        plan.pieces.push_back(static_cast<int32_t>(piece.v.size()));
    }
};

// Lays out one pass over the segments' measured lengths, in order, as the plug-in does: settings
// normalised, the generator seeded once, segments that hold no dashes dropped (they draw
// nothing), jittered divisions sorted with the plug-in's sort. Returns false when the range is
// empty; every segment's share of the plan is then empty.
inline bool PlanPass(DashSettings s, const std::vector<double>& lengths, PlanSink& sink) {
    const bool covered = NormaliseRange(s);
    double maxLength = 0.0;
    for (double length : lengths)
        if (HoldsDashes(length) && length > maxLength) maxLength = length;
    const PassLayout layout = LayoutFor(s);
    SeededRandom random;
    random.Seed(s.seed);
    Plan& plan = sink.plan;
    for (double length : lengths) {
        plan.segmentU.push_back(static_cast<int64_t>(plan.u.size()));
        plan.segmentPiece.push_back(static_cast<int64_t>(plan.pieces.size()));
        if (covered && HoldsDashes(length))
            LayOutSegment(s, layout, length, maxLength, random, SortReals, sink);
    }
    plan.segmentU.push_back(static_cast<int64_t>(plan.u.size()));
    plan.segmentPiece.push_back(static_cast<int64_t>(plan.pieces.size()));
    return covered;
}

}  // namespace dash

#endif
