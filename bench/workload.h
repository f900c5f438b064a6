// Inputs of the benchmarks and the floor they are measured against: a minimal arc-length
// resampler that produces the same number of points at the same uniform parameters as the
// modifier, with plain arrays and no host calls.
#ifndef KORRAND_BENCH_WORKLOAD_H
#define KORRAND_BENCH_WORKLOAD_H

#include <cstdint>
#include <vector>

#include "dash_plan.h"
#include "host_abi.h"

namespace bench {

// One line object's points and segment point counts.
struct Input {
    std::vector<HostVector> points;
    std::vector<int32_t> counts;
};

// Segments alternate between random walks and noisy circles, z = 0, from a fixed seed.
Input MakeInput(int32_t segments, int32_t pointsPerSegment, uint64_t seed);

// The uniform parameters the modifier hands to the measurer for each input segment, and the
// pieces (output segments) they form, laid out once, outside any timing, by the dash pattern
// itself; the settings are the modifier's parameters as the benchmarks set them (a
// DashSettings made without values holds the plug-in's defaults).
dash::Plan MakePlan(const Input& in, const dash::DashSettings& s);

// The floor's output buffers and scratch, allocated once and reused.
struct FloorBuffers {
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    std::vector<double> cum;
};

// Measures every segment (prefix sums), maps every u with a monotone cursor, evaluates the
// point and writes it. Returns the number of points written. tuned: the cursor counts the next
// eight prefix sums instead of walking them (no mispredicted branch per sample), for reference;
// the floor proper is the plain walk.
int64_t RunFloor(const Input& in, const dash::Plan& plan, bool closed, FloorBuffers& out,
                 bool tuned = false);

}  // namespace bench

#endif
