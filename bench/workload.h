// Inputs of the benchmarks and the floor they are measured against: a minimal arc-length
// resampler that produces the same number of points at the same uniform parameters as the
// modifier, with plain arrays and no host calls.
#ifndef KORRAND_BENCH_WORKLOAD_H
#define KORRAND_BENCH_WORKLOAD_H

#include <cstdint>
#include <vector>

#include "host_abi.h"

namespace bench {

// One line object's points and segment point counts.
struct Input {
    std::vector<HostVector> points;
    std::vector<int32_t> counts;
};

// Segments alternate between random walks and noisy circles, z = 0, from a fixed seed.
Input MakeInput(int32_t segments, int32_t pointsPerSegment, uint64_t seed);

// The modifier's parameters as the benchmarks set them (defaults otherwise).
struct Settings {
    int32_t count = 100;
    int32_t subdivision = 1;
    bool closed = true;
    bool relative = false;
    double jitter = 0.0;
    int32_t seed = 100;
    double offset = 0.0;
    double start = 0.0;
    double end = 1.0;
};

// The uniform parameters the modifier hands to the measurer, segment by segment, and the
// pieces (output segments) they form. Laid out once, outside any timing.
struct Plan {
    std::vector<double> u;              // every sample's uniform parameter, in output order
    std::vector<int32_t> pieces;        // point count of each output segment, in order
    std::vector<int64_t> segmentU;      // per input segment: first index into u (size + 1)
    std::vector<int64_t> segmentPiece;  // per input segment: first index into pieces (size + 1)
};
Plan MakePlan(const Input& in, const Settings& s);

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
int64_t RunFloor(const Input& in, const Plan& plan, bool closed, FloorBuffers& out,
                 bool tuned = false);

}  // namespace bench

#endif
