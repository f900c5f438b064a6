// --check and --digest: the floor held against the plug-in, allocations against samples, and a
// hash of every case's output for comparing two builds bit for bit.
#include "check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cases.h"

namespace bench {
namespace {

uint64_t Fnv(uint64_t h, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace

int Check() {
    int failures = 0;
    auto fail = [&](const std::string& what) {
        std::fprintf(stderr, "check failed: %s\n", what.c_str());
        ++failures;
    };
    for (const auto& [name, shape] : Variants()) {
        CaseShape small = shape;
        small.segments = std::min(small.segments, 8);
        small.pointsPerSegment = std::min(small.pointsPerSegment, 2000);
        const Input in = MakeInput(small.segments, small.pointsPerSegment, kSeedValue);
        const dash::Plan plan = MakePlan(in, small.settings);
        Modifier modifier(small.settings);
        HostAtom* line = hostmodel::NewLineObject(in.points, in.counts);
        hostmodel::StartRecording();
        modifier.Modify(line);
        const auto calls = hostmodel::StopRecording();
        std::vector<double> u;
        for (const auto& call : calls)
            if (call.op == "measurer.UniformToNatural") u.push_back(call.reals.at(0));
        if (u.size() != plan.u.size() ||
            (!u.empty() && std::memcmp(u.data(), plan.u.data(), u.size() * sizeof(double)) != 0))
            fail(name + ": the floor's uniform parameters differ from the plug-in's");
        const auto points = hostmodel::Points(line);
        const auto segments = hostmodel::Segments(line);
        FloorBuffers floor;
        const int64_t n = RunFloor(in, plan, small.settings.closed, floor);
        FloorBuffers tunedFloor;
        if (RunFloor(in, plan, small.settings.closed, tunedFloor, true) != n ||
            std::memcmp(tunedFloor.points.data(), floor.points.data(),
                        static_cast<size_t>(n) * sizeof(HostVector)) != 0)
            fail(name + ": the tuned floor differs from the floor");
        if (n != static_cast<int64_t>(points.size()) || segments.size() != plan.pieces.size()) {
            fail(name + ": the floor writes a different number of points or segments");
        } else {
            for (size_t i = 0; i < points.size(); ++i) {
                const HostVector& a = points[i];
                const HostVector& b = floor.points[i];
                if (std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) > 1e-9) {
                    fail(name + ": the floor's point " + std::to_string(i) + " is elsewhere");
                    break;
                }
            }
        }
        hostmodel::FreeObject(line);
    }

    // Many more samples on the same segments: the same heap and object allocations.
    const Input in = MakeInput(50, 200, kSeedValue);
    auto allocations = [&](int32_t subdivision) {
        dash::DashSettings s;
        s.subdivision = subdivision;
        Modifier modifier(s);
        HostAtom* line = hostmodel::NewLineObject(in.points, in.counts);
        const Counts before = Snapshot();
        modifier.Modify(line);
        const Counts after = Snapshot();
        const int64_t points = static_cast<int64_t>(hostmodel::Points(line).size());
        hostmodel::FreeObject(line);
        return std::make_pair(points, Counts{after.hostAllocations - before.hostAllocations,
                                             after.objectAllocations - before.objectAllocations,
                                             after.heapAllocations - before.heapAllocations});
    };
    allocations(1);  // first use of anything lazily made
    const auto few = allocations(0), many = allocations(90);
    std::fprintf(
        stderr,
        "allocations per evaluation: %lld points -> heap %lld, host %lld, objects %lld; "
        "%lld points -> heap %lld, host %lld, objects %lld\n",
        static_cast<long long>(few.first), static_cast<long long>(few.second.heapAllocations),
        static_cast<long long>(few.second.hostAllocations),
        static_cast<long long>(few.second.objectAllocations), static_cast<long long>(many.first),
        static_cast<long long>(many.second.heapAllocations),
        static_cast<long long>(many.second.hostAllocations),
        static_cast<long long>(many.second.objectAllocations));
    if (many.first < 10 * few.first) fail("the sample-heavy run has too few samples to tell");
    // What may differ: the output object's own arrays (resized once) and the plug-in's arrays
    // growing block by block; nothing may come once per sample.
    const double extraSamples = static_cast<double>(many.first - few.first);
    if (many.second.heapAllocations - few.second.heapAllocations > 2)
        fail("heap allocations grow with the number of samples");
    if (many.second.objectAllocations != few.second.objectAllocations)
        fail("object allocations grow with the number of samples");
    if (static_cast<double>(many.second.hostAllocations - few.second.hostAllocations) >
        extraSamples / 1000.0)
        fail("host allocations grow with the number of samples");
    std::fprintf(stderr, "%s\n", failures == 0 ? "check passed" : "check FAILED");
    return failures == 0 ? 0 : 1;
}

int Digest() {
    for (const auto& [name, shape] : Variants()) {
        const Input in = MakeInput(shape.segments, shape.pointsPerSegment, kSeedValue);
        Modifier modifier(shape.settings);
        HostAtom* line = hostmodel::NewLineObject(in.points, in.counts);
        const bool ok = modifier.Modify(line);
        const auto points = hostmodel::Points(line);
        const auto segments = hostmodel::Segments(line);
        uint64_t h = 0xcbf29ce484222325ull;
        h = Fnv(h, points.data(), points.size() * sizeof(HostVector));
        h = Fnv(h, segments.data(), segments.size() * sizeof(HostSegment));
        std::printf("%-22s ok %d points %9zu segments %8zu fnv %016llx\n", name.c_str(), ok ? 1 : 0,
                    points.size(), segments.size(), static_cast<unsigned long long>(h));
        hostmodel::FreeObject(line);
    }
    return 0;
}

}  // namespace bench
