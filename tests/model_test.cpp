// The host model on its own: spline measurement, objects, containers, memory tracking and
// fault injection, the recorder, values, resources, registration and bitmaps.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <thread>

#include "host_model.h"
#include "modifier_plugin.h"
#include "segment_groups.h"

namespace fs = std::filesystem;

namespace {

const HostFunctionTable& T() {
    return *hostmodel::Table();
}
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every test must release what it created.
class Model : public ::testing::Test {
protected:
    void SetUp() override {
        hostmodel::ResetFaults();
        objects_ = hostmodel::LiveObjects();
        blocks_ = hostmodel::Memory().liveBlocks;
    }
    void TearDown() override {
        hostmodel::ResetFaults();
        EXPECT_EQ(hostmodel::LiveObjects(), objects_);
        EXPECT_EQ(hostmodel::Memory().liveBlocks, blocks_);
    }
    int64_t objects_ = 0, blocks_ = 0;
};

// A measurer prepared on one segment, released at scope end.
struct Measure {
    Measure(const HostAtom* op, int32_t seg = 0, const HostAtom* over = nullptr)
        : m(T().measurer.Alloc()), ok(T().measurer.Init(m, op, seg, over)) {}
    ~Measure() { T().measurer.Free(m); }
    double Length() const { return T().measurer.GetLength(m); }
    double Natural(double u) const { return T().measurer.UniformToNatural(m, u); }
    HostMeasurer* m;
    int32_t ok;
};

HostAtom* Line(const std::vector<HostVector>& pts, bool closed, std::vector<int32_t> counts = {}) {
    HostAtom* op = hostmodel::NewLineObject(pts, counts);
    hostmodel::SetClosed(op, closed);
    return op;
}

// Position at fraction u of the length, walking the polyline directly.
HostVector ReferenceAt(const std::vector<HostVector>& p, bool closed, double u) {
    const size_t n = p.size(), edges = closed ? n : n - 1;
    std::vector<double> len(edges);
    double total = 0.0;
    for (size_t i = 0; i < edges; ++i) {
        const HostVector &a = p[i], &b = p[(i + 1) % n];
        len[i] = std::hypot(b.x - a.x, b.y - a.y, b.z - a.z);
        total += len[i];
    }
    double rest = u * total;
    for (size_t i = 0; i < edges; ++i) {
        if (len[i] == 0.0) continue;
        if (rest <= len[i] || i + 1 == edges) {
            const double f = std::min(rest / len[i], 1.0);
            const HostVector &a = p[i], &b = p[(i + 1) % n];
            return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
        }
        rest -= len[i];
    }
    return p.back();
}

double Gap(const HostVector& a, const HostVector& b) {
    return std::max({std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string TempFolder(const std::string& tag) {
    const fs::path p =
        fs::temp_directory_path() / ("hostmodel-" + tag + "-" + std::to_string(::getpid()));
    fs::remove_all(p);
    fs::create_directories(p);
    return p.string();
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

}  // namespace

// ---- Measurement ------------------------------------------------------------------------------

TEST_F(Model, MeasuresOpenAndClosedLengths) {
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, true);
    {
        Measure closed(op);
        ASSERT_EQ(closed.ok, 1);
        EXPECT_EQ(closed.Length(), 2.0 + std::sqrt(2.0));
    }
    hostmodel::SetClosed(op, false);
    Measure open(op);
    ASSERT_EQ(open.ok, 1);
    EXPECT_EQ(open.Length(), 2.0);
    hostmodel::FreeObject(op);
}

TEST_F(Model, TwoPointSplineMapsFractionsBitExactly) {
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}}, false);
    Measure m(op);
    ASSERT_EQ(m.ok, 1);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> any(0.0, 1.0);
    std::vector<double> us = {0.0, 1.0, 0.1, 1.0 / 3.0, std::nextafter(1.0, 0.0), 5e-324};
    for (int i = 0; i <= 1000; ++i) us.push_back(i / 1000.0);
    for (int i = 0; i < 2000; ++i) us.push_back(any(rng));
    for (double u : us) {
        const double t = m.Natural(u);
        const HostVector p = T().object.GetSplinePoint(op, t, 0, nullptr);
        ASSERT_TRUE(SameBits(p.x, u) && p.y == 0.0 && p.z == 0.0) << u << " gave " << p.x;
    }
    hostmodel::FreeObject(op);
}

TEST_F(Model, PositionsAgreeWithIndependentArcLength) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> coord(-50.0, 50.0), unit(0.0, 1.0);
    for (bool closed : {false, true}) {
        // Segment 1 of two, with repeated points (zero-length edges) mixed in.
        std::vector<HostVector> first(5, HostVector{9, 9, 9}), pts;
        for (int i = 0; i < 60; ++i) {
            pts.push_back({coord(rng), coord(rng), coord(rng)});
            if (i % 7 == 3) pts.push_back(pts.back());
        }
        std::vector<HostVector> all = first;
        all.insert(all.end(), pts.begin(), pts.end());
        HostAtom* op = Line(all, closed, {5, static_cast<int32_t>(pts.size())});
        Measure m(op, 1);
        ASSERT_EQ(m.ok, 1);
        std::vector<double> us;
        for (int i = 0; i < 500; ++i) us.push_back(unit(rng));
        std::vector<double> sorted = us;
        std::sort(sorted.begin(), sorted.end());
        us.insert(us.end(), sorted.begin(), sorted.end());    // forward cursor
        us.insert(us.end(), sorted.rbegin(), sorted.rend());  // backward cursor
        double lastT = -1.0;
        for (size_t k = 0; k < us.size(); ++k) {
            const double t = m.Natural(us[k]);
            ASSERT_GE(t, 0.0);
            ASSERT_LE(t, 1.0);
            if (k >= 500 && k < 1000) {
                EXPECT_GE(t, lastT) << "not monotone at " << us[k];
                lastT = t;
            }
            const HostVector got = T().object.GetSplinePoint(op, t, 1, nullptr);
            const HostVector want = ReferenceAt(pts, closed, us[k]);
            ASSERT_LE(Gap(got, want), 1e-12 * m.Length()) << "u " << us[k] << " closed " << closed;
        }
        hostmodel::FreeObject(op);
    }
}

TEST_F(Model, MappingIsTheEdgeFractionOfThePrefixSums) {
    // Edges of length 1, 2 and 3 start at 0, 1 and 3; results must match to the bit, since
    // the plug-in's output depends on them.
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {6, 0, 0}}, false);
    Measure m(op);
    const double start[3] = {0.0, 1.0, 3.0}, len[3] = {1.0, 2.0, 3.0};
    for (int k = 0; k <= 997; ++k) {
        const double u = k / 997.0, target = u * 6.0;
        const int i = target >= 3.0 ? 2 : (target >= 1.0 ? 1 : 0);
        const double want = (i + (target - start[i]) / len[i]) / 3.0;
        ASSERT_TRUE(SameBits(m.Natural(u), want)) << u;
    }
    hostmodel::FreeObject(op);
}

TEST_F(Model, ZeroLengthEdgesAreNeverTheMappedEdge) {
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {2, 0, 0}}, false);
    {
        Measure m(op);
        EXPECT_EQ(m.Natural(0.5), 2.0 / 3.0);  // start of edge 2, not end of edge 0 or edge 1
        EXPECT_EQ(m.Natural(1.0), 1.0);
    }
    hostmodel::SetPoints(op, {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}});
    {
        Measure trailing(op);
        EXPECT_EQ(trailing.Natural(1.0), 0.5);
    }
    hostmodel::SetPoints(op, {{3, 3, 3}, {3, 3, 3}});
    Measure none(op);
    EXPECT_EQ(none.ok, 1);
    EXPECT_EQ(none.Length(), 0.0);
    EXPECT_EQ(none.Natural(0.25), 0.25);
    hostmodel::FreeObject(op);
}

TEST_F(Model, MeasurerKeepsItsOwnCopyAndHonoursOverride) {
    HostAtom* op = Line({{0, 0, 0}, {4, 0, 0}}, false);
    HostAtom* other = Line({{0, 0, 0}, {0, 3, 0}, {0, 3, 1}}, false);
    Measure m(op);
    T().object.GetPointW(op)[1].x = 100.0;
    EXPECT_EQ(m.Length(), 4.0);
    Measure over(op, 0, other);
    EXPECT_EQ(over.Length(), 4.0);
    EXPECT_EQ(over.Natural(0.75), 0.5);
    hostmodel::SetClosed(op, true);  // the settings come from op, not the override
    Measure overClosed(op, 0, other);
    EXPECT_EQ(overClosed.Length(), 4.0 + std::sqrt(10.0));
    hostmodel::FreeObject(op);
    hostmodel::FreeObject(other);
}

TEST_F(Model, HostileValuesNeverCrashOrEscapeTheRange) {
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}, {1, 2, 0}}, false, {3});
    Measure m(op);
    EXPECT_EQ(m.Natural(kNaN), 0.0);
    EXPECT_EQ(m.Natural(-kInf), 0.0);
    EXPECT_EQ(m.Natural(-3.0), 0.0);
    EXPECT_EQ(m.Natural(kInf), 1.0);
    EXPECT_EQ(m.Natural(7.0), 1.0);
    for (double t : {kNaN, -kInf, -1e300, 0.0}) {
        const HostVector p = T().object.GetSplinePoint(op, t, 0, nullptr);
        EXPECT_TRUE(p.x == 0.0 && p.y == 0.0) << t;
    }
    for (double t : {kInf, 1e300, 1.0}) {
        const HostVector p = T().object.GetSplinePoint(op, t, 0, nullptr);
        EXPECT_TRUE(p.x == 1.0 && p.y == 2.0) << t;
    }
    // Records that claim more points than exist, and segments that do not exist.
    HostSegment* segs = T().object.GetSegmentW(op);
    segs[0].cnt = 1 << 30;
    EXPECT_EQ(T().object.GetSplinePoint(op, 1.0, 0, nullptr).y, 2.0);
    EXPECT_EQ(T().object.GetSplinePoint(op, 0.5, 1, nullptr).x, 0.0);
    EXPECT_EQ(T().object.GetSplinePoint(op, 0.5, -1, nullptr).x, 0.0);
    Measure missing(op, 3), negative(op, -1);
    EXPECT_EQ(missing.ok, 0);
    EXPECT_EQ(negative.ok, 0);
    segs[0].cnt = -5;
    Measure empty(op);
    EXPECT_EQ(empty.ok, 0);
    EXPECT_EQ(empty.Natural(0.5), 0.0);
    // Non-finite points cannot be measured but can be evaluated.
    T().object.ResizeObject(op, 3, 0);
    T().object.GetPointW(op)[1].x = kNaN;
    Measure nan(op);
    EXPECT_EQ(nan.ok, 0);
    EXPECT_EQ(nan.Length(), 0.0);
    EXPECT_TRUE(std::isnan(T().object.GetSplinePoint(op, 0.25, 0, nullptr).x));
    T().object.GetPointW(op)[1].x = 1e300;
    Measure huge(op);
    EXPECT_EQ(huge.ok, 0);
    // A single point measures as length 0.
    hostmodel::SetPoints(op, {{5, 6, 7}});
    Measure single(op);
    EXPECT_EQ(single.ok, 1);
    EXPECT_EQ(single.Length(), 0.0);
    EXPECT_EQ(T().object.GetSplinePoint(op, 0.7, 0, nullptr).z, 7.0);
    // Null handles.
    EXPECT_EQ(T().measurer.Init(nullptr, op, 0, nullptr), 0);
    Measure noSpline(nullptr);
    EXPECT_EQ(noSpline.ok, 0);
    EXPECT_EQ(T().measurer.UniformToNatural(nullptr, 0.5), 0.0);
    EXPECT_EQ(T().measurer.GetLength(nullptr), 0.0);
    EXPECT_EQ(T().object.GetSplinePoint(nullptr, 0.5, 0, nullptr).x, 0.0);
    hostmodel::FreeObject(op);
}

TEST_F(Model, SplinePointFollowsClosingEdgeAndReplacementPoints) {
    HostAtom* op = Line({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, true);
    HostVector p = T().object.GetSplinePoint(op, 5.0 / 6.0, 0, nullptr);
    EXPECT_DOUBLE_EQ(p.x, 0.5);
    EXPECT_DOUBLE_EQ(p.y, 0.5);
    const HostVector other[3] = {{0, 0, 0}, {0, 0, 2}, {0, 0, 4}};
    p = T().object.GetSplinePoint(op, 0.5, 0, other);
    EXPECT_EQ(p.z, 3.0);
    hostmodel::FreeObject(op);
}

// ---- Objects and containers --------------------------------------------------------------

TEST_F(Model, SplineAllocAndResize) {
    HostAtom* s = T().object.SplineAlloc(3, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(T().object.GetType(s), hostmodel::Ospline);
    EXPECT_EQ(T().object.GetPointCount(s), 3);
    ASSERT_EQ(hostmodel::Segments(s).size(), 1u);
    EXPECT_EQ(hostmodel::Segments(s)[0].cnt, 3);
    EXPECT_EQ(hostmodel::Segments(s)[0].closed, 0);
    EXPECT_EQ(T().object.SplineAlloc(-1, 0), nullptr);
    EXPECT_EQ(T().object.SplineAlloc(INT32_MAX, 0), nullptr);

    T().object.GetPointW(s)[1] = {1, 2, 3};
    ASSERT_EQ(T().object.ResizeObject(s, 5, 2), 1);
    const auto pts = hostmodel::Points(s);
    ASSERT_EQ(pts.size(), 5u);
    EXPECT_EQ(pts[1].y, 2.0);
    EXPECT_EQ(pts[4].x, 0.0);
    EXPECT_EQ(hostmodel::Segments(s)[1].cnt, 0);
    EXPECT_EQ(T().object.ResizeObject(s, -1, 1), 0);
    hostmodel::SetResizeFails(s, true);
    EXPECT_EQ(T().object.ResizeObject(s, 1, 1), 0);
    EXPECT_EQ(T().object.GetPointCount(s), 5);
    hostmodel::SetResizeFails(s, false);
    ASSERT_EQ(T().object.ResizeObject(s, 0, 0), 1);
    EXPECT_EQ(T().object.GetPointR(s), nullptr);
    EXPECT_EQ(T().object.GetSegmentR(s), nullptr);

    EXPECT_EQ(T().object.Message(s, hostmodel::kMsgUpdate, nullptr), 1);
    T().object.Message(s, 19, nullptr);
    EXPECT_EQ(hostmodel::UpdateCount(s), 1);
    EXPECT_EQ(hostmodel::MessageCount(s, 19), 1);
    T().object.Free(s);

    HostAtom* null = hostmodel::NewObject(hostmodel::Onull);
    HostAtom* poly = hostmodel::NewObject(hostmodel::Opolygon);
    EXPECT_EQ(T().object.ResizeObject(null, 2, 0), 0);
    EXPECT_EQ(T().object.ResizeObject(poly, 2, 1), 0);
    EXPECT_EQ(T().object.ResizeObject(poly, 2, 0), 1);
    EXPECT_EQ(T().object.GetSegmentCount(poly), 0);
    EXPECT_EQ(T().object.GetPointW(null), nullptr);
    hostmodel::FreeObject(null);
    hostmodel::FreeObject(poly);

    EXPECT_EQ(T().object.GetType(nullptr), 0);
    EXPECT_EQ(T().object.Message(nullptr, 5, nullptr), 0);
    EXPECT_EQ(T().object.ResizeObject(nullptr, 1, 1), 0);
    T().object.Free(nullptr);
}

TEST_F(Model, ContainersKeepTypesAndConvert) {
    HostAtom* node = hostmodel::NewObject(1027780);
    HostContainer* bc = T().container.GetDataInstance(node);
    ASSERT_EQ(bc, hostmodel::Container(node));
    EXPECT_EQ(T().container.GetLong(bc, 1, 42), 42);
    EXPECT_EQ(T().container.GetBool(bc, 1, 1), 1);
    EXPECT_EQ(T().container.GetReal(bc, 1, 2.5), 2.5);
    EXPECT_FALSE(hostmodel::Has(bc, 1));

    T().container.SetLong(bc, 1, -7);
    T().container.SetBool(bc, 2, 5);
    T().container.SetReal(bc, 3, -2.75);
    EXPECT_EQ(hostmodel::TypeOf(bc, 1), hostmodel::ValueType::Long);
    EXPECT_EQ(hostmodel::TypeOf(bc, 2), hostmodel::ValueType::Bool);
    EXPECT_EQ(hostmodel::TypeOf(bc, 3), hostmodel::ValueType::Real);
    EXPECT_EQ(T().container.GetLong(bc, 2, 0), 1);  // stored as 0/1
    EXPECT_EQ(T().container.GetBool(bc, 1, 0), 1);
    EXPECT_EQ(T().container.GetReal(bc, 1, 0.0), -7.0);
    EXPECT_EQ(T().container.GetLong(bc, 3, 0), -2);  // toward zero
    EXPECT_EQ(T().container.GetBool(bc, 3, 0), 1);
    T().container.SetReal(bc, 4, 1e20);
    T().container.SetReal(bc, 5, kNaN);
    EXPECT_EQ(T().container.GetLong(bc, 4, 0), INT32_MAX);
    EXPECT_EQ(T().container.GetLong(bc, 5, 9), 0);
    T().container.SetReal(bc, 1, 0.0);  // a set replaces value and type
    EXPECT_EQ(hostmodel::TypeOf(bc, 1), hostmodel::ValueType::Real);
    EXPECT_EQ(T().container.GetBool(bc, 1, 1), 0);
    hostmodel::Erase(bc, 1);
    EXPECT_FALSE(hostmodel::TypeOf(bc, 1));
    EXPECT_EQ(T().container.GetLong(bc, 1, 3), 3);

    EXPECT_EQ(T().container.GetDataInstance(nullptr), nullptr);
    EXPECT_EQ(T().container.GetLong(nullptr, 1, 3), 0);
    EXPECT_EQ(T().container.GetReal(nullptr, 1, 3.0), 0.0);
    T().container.SetLong(nullptr, 1, 1);
    hostmodel::FreeObject(node);
}

// ---- Memory -------------------------------------------------------------------------------

TEST_F(Model, MemoryTracksBlocksSitesAndPeak) {
    const hostmodel::MemoryStats before = hostmodel::Memory();
    auto* a = static_cast<unsigned char*>(T().memory.AllocZeroed(100, 7, "alpha.cpp"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    EXPECT_TRUE(std::all_of(a, a + 100, [](unsigned char c) { return c == 0; }));
    hostmodel::MemoryStats now = hostmodel::Memory();
    EXPECT_EQ(now.liveBlocks - before.liveBlocks, 1);
    EXPECT_EQ(now.liveBytes - before.liveBytes, 100);
    EXPECT_EQ(now.totalAllocations - before.totalAllocations, 1);
    auto sites = hostmodel::LiveBlockSites();
    EXPECT_EQ(std::count(sites.begin(), sites.end(), "alpha.cpp:7"), 1);

    std::memset(a, 0xab, 100);
    auto* b = static_cast<unsigned char*>(T().memory.ReallocBlock(a, 5000, 9, "beta.cpp"));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(std::all_of(b, b + 100, [](unsigned char c) { return c == 0xab; }));
    now = hostmodel::Memory();
    EXPECT_EQ(now.liveBytes - before.liveBytes, 5000);
    EXPECT_GE(now.peakBytes, now.liveBytes);
    sites = hostmodel::LiveBlockSites();
    EXPECT_EQ(std::count(sites.begin(), sites.end(), "beta.cpp:9"), 1);
    EXPECT_EQ(std::count(sites.begin(), sites.end(), "alpha.cpp:7"), 0);

    void* c = T().memory.ReallocBlock(nullptr, 8, 1, "gamma.cpp");
    ASSERT_NE(c, nullptr);
    T().memory.Free(c);
    T().memory.Free(b);
    T().memory.Free(nullptr);
    now = hostmodel::Memory();
    EXPECT_EQ(now.liveBlocks, before.liveBlocks);
    EXPECT_EQ(now.liveBytes, before.liveBytes);

    for (int64_t bad : {int64_t(0), int64_t(-1), (int64_t(1) << 40) + 1}) {
        EXPECT_EQ(T().memory.AllocBlock(bad, 1, "x"), nullptr);
        EXPECT_EQ(T().memory.AllocZeroed(bad, 1, "x"), nullptr);
    }
}

TEST_F(Model, FailAllocationNumberFailsExactlyThatCall) {
    const int64_t calls = hostmodel::AllocationCount();
    hostmodel::FailAllocationNumber(2);
    void* first = T().memory.AllocBlock(16, 1, "f");
    void* second = T().memory.AllocBlock(16, 2, "f");
    void* third = T().memory.AllocBlock(16, 3, "f");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(hostmodel::AllocationCount() - calls, 3);

    // A failed reallocation leaves the old block valid and unchanged.
    static_cast<char*>(first)[0] = 'k';
    hostmodel::FailAllocationNumber(1);
    EXPECT_EQ(T().memory.ReallocBlock(first, 64, 4, "f"), nullptr);
    EXPECT_EQ(static_cast<char*>(first)[0], 'k');
    T().memory.Free(first);
    T().memory.Free(third);
}

TEST_F(Model, FailAllocationsFromMatchesFileOrBaseName) {
    hostmodel::FailAllocationsFrom("beta");
    EXPECT_EQ(T().memory.AllocBlock(8, 1, "beta"), nullptr);
    EXPECT_EQ(T().memory.AllocZeroed(8, 1, "/src/tools/beta"), nullptr);
    void* other = T().memory.AllocBlock(8, 1, "betamax");
    void* alpha = T().memory.AllocBlock(8, 1, "alpha");
    EXPECT_NE(other, nullptr);
    EXPECT_NE(alpha, nullptr);
    EXPECT_EQ(T().memory.ReallocBlock(alpha, 16, 2, "beta"), nullptr);
    hostmodel::FailAllocationsFrom("");
    void* again = T().memory.AllocBlock(8, 1, "beta");
    EXPECT_NE(again, nullptr);
    for (void* p : {other, alpha, again}) T().memory.Free(p);
}

TEST_F(Model, FailObjectAllocationsCountsHostObjectCreation) {
    const int64_t calls = hostmodel::ObjectAllocationCount();
    hostmodel::FailObjectAllocations(2);
    HostMeasurer* m = T().measurer.Alloc();
    HostAtom* s = T().object.SplineAlloc(2, 0);
    HostBitmap* bmp = T().bitmap.Alloc();
    EXPECT_NE(m, nullptr);
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(bmp, nullptr);
    EXPECT_EQ(hostmodel::ObjectAllocationCount() - calls, 3);
    T().measurer.Free(m);
    T().bitmap.Free(bmp);
}

TEST_F(Model, TwoThreadsKeepTheCountsExact) {
    const hostmodel::MemoryStats before = hostmodel::Memory();
    auto work = [](int seed) {
        std::vector<void*> held;
        for (int i = 0; i < 20000; ++i) {
            void* p = T().memory.AllocBlock(16 + (i + seed) % 64, i, "worker");
            p = T().memory.ReallocBlock(p, 200, i, "worker");
            held.push_back(p);
            if (held.size() > 50) {
                T().memory.Free(held.front());
                held.erase(held.begin());
            }
        }
        for (void* p : held) T().memory.Free(p);
    };
    std::thread a(work, 1), b(work, 2);
    a.join();
    b.join();
    const hostmodel::MemoryStats after = hostmodel::Memory();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.liveBytes, before.liveBytes);
    EXPECT_EQ(after.totalAllocations - before.totalAllocations, 80000);
}

// ---- Recorder --------------------------------------------------------------------------------

TEST_F(Model, RecorderKeepsCallsInOrderWithArguments) {
    HostAtom* op = Line({{0, 0, 0}, {2, 0, 0}}, false);
    T().object.GetType(op);  // not recorded: recorder is off
    hostmodel::StartRecording();
    void* block = T().memory.AllocBlock(24, 31, "delta");
    HostMeasurer* m = T().measurer.Alloc();
    T().measurer.Init(m, op, 0, nullptr);
    T().measurer.UniformToNatural(m, 0.25);
    T().object.GetSplinePoint(op, 0.5, 0, nullptr);
    T().container.GetReal(hostmodel::Container(op), 1003, 1.5);
    T().measurer.Free(m);
    T().memory.Free(block);
    const auto calls = hostmodel::StopRecording();
    T().object.GetType(op);
    EXPECT_TRUE(hostmodel::StopRecording().empty());

    const std::vector<std::string> ops = {
        "memory.AllocBlock",     "measurer.Alloc",    "measurer.Init", "measurer.UniformToNatural",
        "object.GetSplinePoint", "container.GetReal", "measurer.Free", "memory.Free"};
    ASSERT_EQ(calls.size(), ops.size());
    for (size_t i = 0; i < ops.size(); ++i) EXPECT_EQ(calls[i].op, ops[i]) << i;
    EXPECT_EQ(calls[0].ints, (std::vector<int64_t>{24, 31}));
    EXPECT_EQ(calls[0].text, "delta");
    EXPECT_EQ(calls[0].handle, block);
    EXPECT_EQ(calls[1].handle, m);
    EXPECT_EQ(calls[2].handle, m);
    EXPECT_EQ(calls[3].reals, std::vector<double>{0.25});
    EXPECT_EQ(calls[4].reals, std::vector<double>{0.5});
    EXPECT_EQ(calls[4].ints, std::vector<int64_t>{0});
    EXPECT_EQ(calls[5].ints, std::vector<int64_t>{1003});
    EXPECT_EQ(calls[5].reals, std::vector<double>{1.5});
    EXPECT_EQ(calls[7].handle, block);
    hostmodel::FreeObject(op);
}

// ---- Values --------------------------------------------------------------------------------

TEST_F(Model, StringsFilenamesAndDescIDs) {
    HostStringData s{}, t{};
    T().string.Init(&s);
    T().string.Init(&t);
    T().string.SetCString(&s, "abcdef", 3, 0);
    EXPECT_EQ(hostmodel::Text(&s), "abc");
    T().string.SetCString(&t, "XYZ", -1, 0);
    T().string.Insert(&s, 1, &t, -1, -1);
    EXPECT_EQ(hostmodel::Text(&s), "aXYZbc");
    T().string.Insert(&s, 99, &t, 1, 2);  // position clamped to the end
    EXPECT_EQ(hostmodel::Text(&s), "aXYZbcY");
    T().string.Insert(&s, -4, &t, 2, 99);  // to the start; end clamped
    EXPECT_EQ(hostmodel::Text(&s), "ZaXYZbcY");
    T().string.Insert(&s, 0, &s, 0, 1);  // from itself
    EXPECT_EQ(hostmodel::Text(&s), "ZZaXYZbcY");
    T().string.Insert(&s, 0, &t, 2, 1);  // empty range
    EXPECT_EQ(T().string.GetLength(&s), 9);
    T().string.Assign(&t, T().string.Empty());
    EXPECT_EQ(T().string.GetLength(&t), 0);
    EXPECT_EQ(T().string.GetLength(T().string.Empty()), 0);
    EXPECT_EQ(T().string.GetLength(nullptr), 0);
    HostStringData none{nullptr};  // a string the host could not make ignores writes
    T().string.SetCString(&none, "x", -1, 0);
    EXPECT_EQ(T().string.GetLength(&none), 0);

    HostFilenameData f{}, dir{};
    T().filename.Init(&f);
    T().filename.Init(&dir);
    hostmodel::SetPath(&f, "/opt/plugins/Korrand/lib.so");
    T().filename.GetDirectory(&f, &dir);
    EXPECT_EQ(hostmodel::Path(&dir), "/opt/plugins/Korrand");
    T().string.SetCString(&t, "res", -1, 0);
    T().filename.Append(&dir, &t);
    EXPECT_EQ(hostmodel::Path(&dir), "/opt/plugins/Korrand/res");
    hostmodel::SetPath(&f, "/lib.so");
    T().filename.GetDirectory(&f, &dir);
    EXPECT_EQ(hostmodel::Path(&dir), "/");
    hostmodel::SetPath(&f, "lib.so");
    T().filename.GetDirectory(&f, &dir);
    EXPECT_EQ(hostmodel::Path(&dir), "");
    T().filename.Append(&dir, &t);
    EXPECT_EQ(hostmodel::Path(&dir), "res");
    T().filename.Copy(&f, &dir);
    EXPECT_EQ(hostmodel::Path(&f), "res");

    HostDescIDData a{}, b{}, c{};
    T().descid.InitLevel(&a, 5000, 0, 0);
    T().descid.InitLevel(&b, 5000, 0, 0);
    T().descid.InitLevel(&c, 5000, 1, 0);
    EXPECT_EQ(T().descid.Equal(&a, &b), 1);
    EXPECT_EQ(T().descid.Equal(&a, &c), 0);
    EXPECT_EQ(T().descid.Equal(&a, nullptr), 0);
    for (HostDescIDData* d : {&a, &b, &c}) T().descid.Free(d);
    for (HostFilenameData* x : {&f, &dir}) T().filename.Free(x);
    T().string.Free(&s);
    T().string.Free(&t);
    EXPECT_EQ(s.impl, nullptr);
}

// ---- Resources, descriptions and registration -------------------------------------------

TEST_F(Model, ResourcesAndDescriptionsAreReadAndValidated) {
    const std::string folder = TempFolder("res");
    WriteFile(fs::path(folder) / "res/strings_en/strings.json",
              R"({"strings": {"10000": "Korrand"}})");
    const std::string good = R"({"name": "okx", "parameters": [
        {"id": 1000, "name": "A", "type": "LONG", "label": "A", "default": 5, "min": 0, "max": 9},
        {"id": 1001, "name": "B", "type": "BOOL", "default": 1},
        {"id": 5000, "name": "C", "type": "BUTTON", "label": "Web"}]})";
    WriteFile(fs::path(folder) / "res/description/okx.json", good);
    HostFilenameData where{};
    T().filename.Init(&where);
    hostmodel::SetPath(&where, folder);
    HostResource* res = T().resource.Load(&where);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(hostmodel::Text(T().resource.GetString(res, 10000)), "Korrand");
    EXPECT_EQ(T().resource.GetString(res, 10001), T().string.Empty());
    EXPECT_EQ(T().resource.GetString(nullptr, 10000), nullptr);

    HostStringData name{};
    T().string.Init(&name);
    T().string.SetCString(&name, "okx", -1, 0);
    EXPECT_EQ(T().registration.RegisterDescription(77, &name, res), 1);
    EXPECT_EQ(T().registration.RegisterDescription(77, &name, nullptr), 0);  // nothing starting
    T().string.SetCString(&name, "missing", -1, 0);
    EXPECT_EQ(T().registration.RegisterDescription(77, &name, res), 0);
    T().string.Free(&name);
    T().resource.Free(res);
    hostmodel::ClearRegistry();

    std::string error;
    auto d = hostmodel::ReadDescription(folder, "okx", &error);
    ASSERT_TRUE(d) << error;
    ASSERT_EQ(d->parameters.size(), 3u);
    EXPECT_EQ(*d->parameters[0].def, 5.0);
    EXPECT_EQ(d->parameters[2].type, hostmodel::ParameterType::Button);
    EXPECT_FALSE(hostmodel::ReadDescription(folder, "../okx", &error));

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"dup id",
         R"({"name":"okx","parameters":[{"id":1,"name":"A","type":"LONG"},{"id":1,"name":"B","type":"REAL"}]})"},
        {"type", R"({"name":"okx","parameters":[{"id":1,"name":"A","type":"VECTOR"}]})"},
        {"default",
         R"({"name":"okx","parameters":[{"id":1,"name":"A","type":"REAL","default":2,"min":0,"max":1}]})"},
        {"name", R"({"name":"other","parameters":[]})"},
        {"same key",
         R"({"name":"okx","parameters":[{"id":1,"name":"A_X","type":"LONG"},{"id":2,"name":"B_X","type":"REAL"}]})"},
        {"off of a number",
         R"({"name":"okx","parameters":[{"id":1,"name":"A_X","type":"LONG","off":"y"}]})"},
        {"json", R"({"name":"okx","parameters":[)"}};
    for (const auto& [why, text] : bad) {
        WriteFile(fs::path(folder) / "res/description/okx.json", text);
        EXPECT_FALSE(hostmodel::ReadDescription(folder, "okx", &error)) << why;
        EXPECT_FALSE(error.empty());
    }

    WriteFile(fs::path(folder) / "res/strings_en/strings.json", R"({"strings": {"x1": "no"}})");
    EXPECT_EQ(T().resource.Load(&where), nullptr);
    fs::remove_all(folder);
    EXPECT_EQ(T().resource.Load(&where), nullptr);
    T().filename.Free(&where);
}

TEST_F(Model, RegisterPluginCopiesRecordNameAndIcon) {
    hostmodel::ClearRegistry();
    const std::string folder = TempFolder("icon");
    const std::vector<uint32_t> px = {0xff0000ffu, 0xff00ff00u, 0xffff0000u,
                                      0xffffffffu, 0xff000000u, 0xff808080u};
    ASSERT_TRUE(hostmodel::WriteTiff(folder + "/icon.tif", 3, 2, px));
    HostFilenameData file{};
    T().filename.Init(&file);
    hostmodel::SetPath(&file, folder + "/icon.tif");
    HostBitmap* icon = T().bitmap.Alloc();
    int32_t movie = 7;
    ASSERT_EQ(T().bitmap.Init(icon, &file, -1, &movie), 1);
    EXPECT_EQ(movie, 0);
    EXPECT_EQ(T().bitmap.GetBw(icon), 3);
    EXPECT_EQ(T().bitmap.GetBh(icon), 2);
    EXPECT_EQ(hostmodel::Pixels(icon), px);

    HostObjectPluginRecord rec{};
    rec.node.info = 129;
    rec.icon = icon;
    rec.node.icon = icon;
    HostStringData name{};
    T().string.Init(&name);
    T().string.SetCString(&name, "Dashes", -1, 0);
    const int32_t size = static_cast<int32_t>(sizeof rec);
    EXPECT_EQ(T().registration.RegisterPlugin(13000, 5, 42, &name, &rec, size - 8), 0);
    EXPECT_EQ(T().registration.RegisterPlugin(13000, 4, 42, &name, &rec, size), 0);
    EXPECT_EQ(T().registration.RegisterPlugin(13000, 5, 42, &name, nullptr, size), 0);
    ASSERT_EQ(T().registration.RegisterPlugin(13000, 5, 42, &name, &rec, size), 1);
    T().bitmap.Free(icon);  // the caller's icon goes; the host's copy stays
    T().string.Free(&name);
    rec.node.info = 1;
    auto reg = hostmodel::Registry();
    ASSERT_EQ(reg.size(), 1u);
    EXPECT_EQ(reg[0].name, "Dashes");
    EXPECT_EQ(reg[0].record.node.info, 129);
    EXPECT_EQ(reg[0].record.icon, nullptr);
    EXPECT_EQ(reg[0].record.node.icon, nullptr);
    EXPECT_TRUE(reg[0].hasIcon);
    EXPECT_EQ(reg[0].iconWidth, 3);
    EXPECT_EQ(reg[0].iconPixels, px);

    rec.icon = rec.node.icon = nullptr;
    ASSERT_EQ(T().registration.RegisterPlugin(13001, 5, 42, nullptr, &rec, size), 1);
    reg = hostmodel::Registry();
    ASSERT_EQ(reg.size(), 1u);  // same id replaces
    EXPECT_EQ(reg[0].version, 13001);
    EXPECT_FALSE(reg[0].hasIcon);
    hostmodel::ClearRegistry();

    // Missing and corrupt images leave the bitmap empty.
    HostBitmap* bmp = T().bitmap.Alloc();
    WriteFile(folder + "/bad.tif", "II*\0garbage");
    for (const char* path : {"/bad.tif", "/absent.tif"}) {
        hostmodel::SetPath(&file, folder + path);
        EXPECT_NE(T().bitmap.Init(bmp, &file, -1, nullptr), 1) << path;
        EXPECT_EQ(T().bitmap.GetBw(bmp), 0);
    }
    T().bitmap.Free(bmp);
    T().filename.Free(&file);
    fs::remove_all(folder);
}

// The record carries the icon twice; the host keeps the object part's, and the node part's
// only when the object part has none.
TEST_F(Model, RegisterPluginKeepsTheObjectPartsIcon) {
    hostmodel::ClearRegistry();
    const std::string folder = TempFolder("icons");
    ASSERT_TRUE(hostmodel::WriteTiff(folder + "/wide.tif", 4, 1, std::vector<uint32_t>(4, 1u)));
    ASSERT_TRUE(hostmodel::WriteTiff(folder + "/tall.tif", 1, 3, std::vector<uint32_t>(3, 2u)));
    HostFilenameData file{};
    T().filename.Init(&file);
    HostBitmap* wide = T().bitmap.Alloc();
    HostBitmap* tall = T().bitmap.Alloc();
    hostmodel::SetPath(&file, folder + "/wide.tif");
    ASSERT_EQ(T().bitmap.Init(wide, &file, -1, nullptr), 1);
    hostmodel::SetPath(&file, folder + "/tall.tif");
    ASSERT_EQ(T().bitmap.Init(tall, &file, -1, nullptr), 1);

    HostObjectPluginRecord rec{};
    const int32_t size = static_cast<int32_t>(sizeof rec);
    auto keptWidth = [&](HostBitmap* objectPart, HostBitmap* nodePart) {
        rec.icon = objectPart;
        rec.node.icon = nodePart;
        EXPECT_EQ(T().registration.RegisterPlugin(HOST_API_VERSION, HOST_PLUGINTYPE_OBJECT, 42,
                                                  nullptr, &rec, size),
                  1);
        const auto reg = hostmodel::Registry();
        return reg.size() == 1 && reg[0].hasIcon ? reg[0].iconWidth : 0;
    };
    EXPECT_EQ(keptWidth(wide, tall), 4);
    EXPECT_EQ(keptWidth(tall, wide), 1);
    EXPECT_EQ(keptWidth(nullptr, wide), 4);
    EXPECT_EQ(keptWidth(nullptr, nullptr), 0);

    hostmodel::ClearRegistry();
    T().bitmap.Free(wide);
    T().bitmap.Free(tall);
    T().filename.Free(&file);
    fs::remove_all(folder);
}

// A record of the other platform's width is refused, with the reason; this platform's is taken.
TEST_F(Model, RegisterPluginReadsOnlyThisPlatformsRecordWidth) {
    hostmodel::ClearRegistry();
    const int32_t own = HOST_OBJECT_RECORD_SIZE;
    const int32_t other = own == HOST_OBJECT_RECORD_SIZE_MACOS ? HOST_OBJECT_RECORD_SIZE_WINDOWS
                                                               : HOST_OBJECT_RECORD_SIZE_MACOS;
    HostObjectPluginRecord rec{};
    rec.node.info = 129;
    std::vector<unsigned char> bytes(HOST_OBJECT_RECORD_SIZE_MACOS, 0);  // room for either
    std::memcpy(bytes.data(), &rec, sizeof rec);
    EXPECT_EQ(T().registration.RegisterPlugin(13000, 5, 42, nullptr, bytes.data(), other), 0);
    EXPECT_TRUE(hostmodel::Registry().empty());
    auto refused = hostmodel::RefusedRegistrations();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].rfind("registration of plug-in 42 refused: a record of " +
                                   std::to_string(other) + " bytes",
                               0),
              0u)
        << refused[0];
    EXPECT_NE(refused[0].find("this host reads records of " + std::to_string(own) + " bytes"),
              std::string::npos)
        << refused[0];

    ASSERT_EQ(T().registration.RegisterPlugin(13000, 5, 42, nullptr, bytes.data(), own), 1);
    ASSERT_EQ(hostmodel::Registry().size(), 1u);
    EXPECT_EQ(hostmodel::Registry()[0].recordSize, own);
    EXPECT_EQ(hostmodel::Registry()[0].record.node.info, 129);
    EXPECT_EQ(hostmodel::RefusedRegistrations().size(), 1u);
    hostmodel::ClearRegistry();
    EXPECT_TRUE(hostmodel::RefusedRegistrations().empty());
}

namespace {
// What the operations called through an entry saw.
const void* g_self = nullptr;

int32_t PlainOperation(HostNodeData* obj, int32_t x) {
    g_self = obj;
    return x + 100;
}

// An object of two polymorphic bases, so that entries of the second need a this-adjustment.
struct FirstBase {
    virtual ~FirstBase() = default;
    virtual int32_t Twice(int32_t x) {
        g_self = this;
        return 2 * x;
    }
    int64_t first = 1;
};
struct SecondBase {
    virtual ~SecondBase() = default;
    virtual int32_t Thrice(int32_t x) {
        g_self = this;
        return 3 * x;
    }
    int32_t Less(int32_t x) {
        g_self = this;
        return x - 1;
    }
    int64_t second = 2;
};
struct BothBases : FirstBase, SecondBase {
    int32_t Thrice(int32_t x) override {
        g_self = this;
        return 30 * x;
    }
};

// One entry of the record's kind.
struct OneEntry {
    HOST_OPERATION(int32_t, Call, (HostNodeData*, int32_t));
};
}  // namespace

// The host calls an entry as host_abi.h says: with 8-byte entries the function gets the object;
// with 16-byte entries the slot reads as the compiler lays out a pointer to member function,
// so entries made from real ones reach the right code with the right this.
TEST_F(Model, OperationEntriesAreReadAsThisPlatformLaysThemOut) {
    static_assert(sizeof(OneEntry) == HOST_OPERATION_ENTRY_SIZE, "an entry is one slot");
    BothBases object;
    HostNodeData* obj = reinterpret_cast<HostNodeData*>(&object);
    const void* second = static_cast<SecondBase*>(&object);
    ASSERT_NE(second, static_cast<const void*>(&object));

    OneEntry plain{};
    plain.Call.function = PlainOperation;
    EXPECT_EQ(hostmodel::CallOperation(plain.Call, obj, 5), 105);
    EXPECT_EQ(g_self, static_cast<const void*>(&object));

#if HOST_OPERATION_ENTRY_SIZE == 16
    auto call = [&](int32_t (BothBases::*member)(int32_t), int32_t x) {
        static_assert(sizeof member == sizeof(OneEntry), "a pointer to member fills the slot");
        OneEntry entry;
        std::memcpy(&entry, &member, sizeof entry);
        g_self = nullptr;
        return hostmodel::CallOperation(entry.Call, obj, x);
    };
    // Virtual, in the first base's table: no adjustment.
    EXPECT_EQ(call(&BothBases::Twice, 7), 14);
    EXPECT_EQ(g_self, static_cast<const void*>(&object));
    // Not virtual, in the second base: this moves to that base.
    EXPECT_EQ(call(&SecondBase::Less, 7), 6);
    EXPECT_EQ(g_self, second);
    // Virtual, through the second base's table, overridden by the object.
    EXPECT_EQ(call(&SecondBase::Thrice, 7), 210);
    EXPECT_EQ(g_self, static_cast<const void*>(&object));
#endif
}

TEST_F(Model, HandlesAreDrawnAndHitWithinFivePixels) {
    HostBaseDraw* bd = hostmodel::NewBaseDraw();
    const HostVector at{100, 50, 3};
    T().draw.DrawHandle(bd, &at, 1);
    T().draw.DrawHandle(nullptr, &at, 1);
    ASSERT_EQ(hostmodel::DrawnHandles(bd).size(), 1u);
    EXPECT_EQ(hostmodel::DrawnHandles(bd)[0].position.x, 100.0);
    EXPECT_EQ(T().draw.PointInRange(bd, &at, 105, 45), 1);
    EXPECT_EQ(T().draw.PointInRange(bd, &at, 106, 50), 0);
    EXPECT_EQ(T().draw.PointInRange(nullptr, &at, 100, 50), 0);
    hostmodel::FreeBaseDraw(bd);
}

TEST_F(Model, LoadingAFolderWithoutLibraryExplainsWhy) {
    std::string error;
    EXPECT_EQ(hostmodel::Plugin::Load("/nonexistent/folder", &error), nullptr);
    EXPECT_NE(error.find(hostmodel::PluginLibraryName()), std::string::npos) << error;
    EXPECT_EQ(hostmodel::Table()->version, 13000);
    HostFunctionTable copy = hostmodel::MakeTable();
    EXPECT_EQ(std::memcmp(&copy, hostmodel::Table(), sizeof copy), 0);
    copy.descid.Equal = nullptr;  // tampering with a copy leaves the host's table alone
    EXPECT_NE(hostmodel::Table()->descid.Equal, copy.descid.Equal);
}

// The parameter contract the hosts share: names, checks and typed writes.
TEST(ParameterContract, KeysChecksAndTypedWrites) {
    EXPECT_EQ(hostmodel::ParameterKey("KORRAND_COUNT"), "count");
    EXPECT_EQ(hostmodel::ParameterKey("KORRAND_RESERVED_1011"), "reserved_1011");
    EXPECT_EQ(hostmodel::ParameterKey("Plain"), "plain");
    EXPECT_EQ(hostmodel::OptionFlag("reserved_1011"), "--reserved-1011");
    EXPECT_EQ(hostmodel::FormatNumber(0.1), "0.1");
    EXPECT_EQ(hostmodel::FormatNumber(-2147483648.0), "-2147483648");
    EXPECT_EQ(hostmodel::FormatNumber(-INFINITY), "-inf");

    hostmodel::Parameter count{};
    count.id = 7;
    count.type = hostmodel::ParameterType::Long;
    count.min = 0;
    count.max = 10;
    count.def = 4;
    hostmodel::Parameter flag{};
    flag.id = 8;
    flag.type = hostmodel::ParameterType::Bool;
    hostmodel::Parameter real{};
    real.id = 9;
    real.type = hostmodel::ParameterType::Real;
    real.min = -1;
    struct Case {
        const hostmodel::Parameter* p;
        double value;
        std::string why;
    };
    for (const Case& c :
         {Case{&count, 10, ""}, Case{&count, 11, "must be between 0 and 10 (got 11)"},
          Case{&count, 2.5, "must be a whole number (got 2.5)"},
          Case{&count, NAN, "must be a finite number (got nan)"}, Case{&flag, 1, ""},
          Case{&flag, 2, "must be 0 or 1 (got 2)"},
          Case{&real, -1.5, "must be at least -1 (got -1.5)"}, Case{&real, 1e300, ""}})
        EXPECT_EQ(hostmodel::CheckSetting(*c.p, c.value), c.why) << c.value;
    hostmodel::Parameter wide = count;
    wide.min.reset();
    wide.max.reset();
    EXPECT_EQ(hostmodel::CheckSetting(wide, 4294967296.0), "must fit in 32 bits (got 4294967296)");

    HostAtom* node = hostmodel::NewObject(hostmodel::Onull);
    HostContainer* bc = hostmodel::Container(node);
    EXPECT_EQ(hostmodel::Load(bc, count), 4.0);  // absent: the default
    EXPECT_EQ(hostmodel::Store(bc, count, hostmodel::Value::Real(3)), "must be an integer");
    EXPECT_EQ(hostmodel::Store(bc, count, hostmodel::Value::Int(int64_t{1} << 31)),
              "does not fit in 32 bits");
    EXPECT_EQ(hostmodel::Store(bc, flag, hostmodel::Value::Int(1)), "must be true or false");
    EXPECT_EQ(hostmodel::Store(bc, real, hostmodel::Value::Bool(true)), "must be a number");
    EXPECT_FALSE(hostmodel::Has(bc, count.id));  // refused values leave nothing behind
    // Stored values are not held to the limits; each goes in with its type's setter.
    EXPECT_EQ(hostmodel::Store(bc, count, hostmodel::Value::Int(-5)), "");
    EXPECT_EQ(hostmodel::Store(bc, flag, hostmodel::Value::Bool(true)), "");
    EXPECT_EQ(hostmodel::Store(bc, real, hostmodel::Value::Int(3)), "");
    EXPECT_EQ(hostmodel::TypeOf(bc, count.id), hostmodel::ValueType::Long);
    EXPECT_EQ(hostmodel::TypeOf(bc, flag.id), hostmodel::ValueType::Bool);
    EXPECT_EQ(hostmodel::TypeOf(bc, real.id), hostmodel::ValueType::Real);
    EXPECT_EQ(hostmodel::Load(bc, count), -5.0);
    EXPECT_EQ(hostmodel::Load(bc, real), 3.0);
    hostmodel::FreeObject(node);

    std::string error;
    EXPECT_FALSE(hostmodel::ModifierPlugin::Open(fs::temp_directory_path().string(), &error));
    EXPECT_NE(error.find("cannot load the plug-in from"), std::string::npos) << error;
}

// The rule every host groups a curve's segments by: apart where nothing relates them or each
// has a count of its own, else together, by kind where the curve says which are closed.
TEST(ParameterContract, SegmentsAreGroupedIntoLineObjectsByOneRule) {
    using hostmodel::GroupSegments;
    const std::vector<bool> kinds = {false, true, false, true, true};
    const auto of = [](const std::vector<hostmodel::SegmentGroup>& groups) {
        std::vector<std::pair<std::vector<int32_t>, int>> out;
        for (const auto& g : groups) out.push_back({g.segments, g.closed ? int(*g.closed) : -1});
        return out;
    };
    using Groups = std::vector<std::pair<std::vector<int32_t>, int>>;
    EXPECT_EQ(of(GroupSegments(3, {}, false, false)), (Groups{{{0}, -1}, {{1}, -1}, {{2}, -1}}));
    EXPECT_EQ(of(GroupSegments(3, {}, false, true)), (Groups{{{0, 1, 2}, -1}}));
    EXPECT_EQ(of(GroupSegments(5, kinds, false, true)), (Groups{{{0, 2}, 0}, {{1, 3, 4}, 1}}));
    EXPECT_EQ(of(GroupSegments(3, {true, false, true}, false, true)),
              (Groups{{{0, 2}, 1}, {{1}, 0}}));
    EXPECT_EQ(of(GroupSegments(2, {true, true}, false, true)), (Groups{{{0, 1}, 1}}));
    EXPECT_EQ(of(GroupSegments(3, {true, false, true}, true, true)),
              (Groups{{{0}, 1}, {{1}, 0}, {{2}, 1}}));
    EXPECT_EQ(of(GroupSegments(2, {true, false}, false, false)), (Groups{{{0}, 1}, {{1}, 0}}));
    EXPECT_TRUE(GroupSegments(0, {}, false, true).empty());
    EXPECT_THROW(GroupSegments(2, {true}, false, true), std::invalid_argument);
}
