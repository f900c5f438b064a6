// The dash pattern laid out into standard containers: what the plug-in hands its measurers, for
// the benchmark floor, the tests and the fuzz target to compare with. The plug-in itself never
// includes this file (it keeps all its memory in the host's arrays).
#ifndef KORRAND_DASH_PLAN_H
#define KORRAND_DASH_PLAN_H

#include <stdint.h>

#include <vector>

#include "dash_pattern.h"
#include "ge_sort.h"
#include "seeded_random.h"

namespace dash {

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

// Every uniform parameter in output order, and the point count of each piece.
struct Plan {
    std::vector<double> u;
    std::vector<int32_t> pieces;
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

// Lays out one pass over the kept segments' lengths, in order, as the plug-in does: settings
// normalised, the generator seeded once, jittered divisions sorted with the plug-in's sort.
// Returns false (and an empty plan) when the range is empty.
inline bool PlanPass(DashSettings s, const std::vector<double>& keptLengths, PlanSink& sink) {
    if (!NormaliseRange(s)) return false;
    double maxLength = 0.0;
    for (double length : keptLengths)
        if (length > maxLength) maxLength = length;
    const PassLayout layout = LayoutFor(s);
    SeededRandom random;
    random.Seed(s.seed);
    for (double length : keptLengths)
        LayOutSegment(s, layout, length, maxLength, random, SortReals, sink);
    return true;
}

}  // namespace dash

#endif
