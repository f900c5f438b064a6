// The modify operation, driven through the host model and observed through its call recorder:
// the exact uniform parameters handed to the host, the points and records written back, and
// the memory and objects left behind.
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "dash_plan.h"
#include "korrand.h"
#include "okorrand.h"
#include "seeded_random.h"
#include "test_support.h"

namespace {

using Pts = std::vector<HostVector>;

// One modifier node with the plug-in object behind it, initialised with the defaults.
class Modifier {
public:
    Modifier() : node_(hostmodel::NewObject(ID_KORRAND)), obj_(AllocKorrandObject()) {
        obj_->Init(reinterpret_cast<GeListNode*>(node_));
    }
    ~Modifier() {
        delete obj_;
        hostmodel::FreeObject(node_);
    }
    HostContainer* Bc() { return hostmodel::Container(node_); }
    Modifier& Long(Int32 id, Int32 v) {
        Host().container.SetLong(Bc(), id, v);
        return *this;
    }
    Modifier& Real(Int32 id, double v) {
        Host().container.SetReal(Bc(), id, v);
        return *this;
    }
    Modifier& Bool(Int32 id, bool v) {
        Host().container.SetBool(Bc(), id, v ? 1 : 0);
        return *this;
    }
    // The parameters as one pass reads them.
    DashSettings Settings() {
        DashSettings s;
        ReadDashSettings(reinterpret_cast<const BaseContainer*>(Bc()), &s);
        return s;
    }
    bool Modify(HostAtom* op) {
        return static_cast<ObjectData*>(obj_)->ModifyObject(
            reinterpret_cast<BaseObject*>(node_), nullptr, reinterpret_cast<BaseObject*>(op),
            nullptr, nullptr, 1.0, 0, nullptr);
    }

private:
    HostAtom* node_;
    NodeData* obj_;
};

// What one evaluation produced.
struct Result {
    bool ok = false;
    Pts points;
    std::vector<HostSegment> segments;
    std::vector<double> uniforms;         // every u passed to the measurer, in order
    std::vector<const void*> measurerOf;  // the measurer each u went to
    std::vector<const void*> measurers;   // measurers in the order they were prepared
    int64_t updates = 0;
    std::vector<hostmodel::Call> calls;
};

Result Evaluate(Modifier& m, const Pts& points, const std::vector<int32_t>& counts,
                const std::vector<int32_t>& closedFlags = {}) {
    HostAtom* op = hostmodel::NewLineObject(points, counts);
    if (!closedFlags.empty()) {
        HostSegment* seg = Host().object.GetSegmentW(op);
        for (size_t i = 0; i < closedFlags.size(); ++i) seg[i].closed = closedFlags[i];
    }
    Result r;
    hostmodel::StartRecording();
    r.ok = m.Modify(op);
    r.calls = hostmodel::StopRecording();
    r.points = hostmodel::Points(op);
    r.segments = hostmodel::Segments(op);
    r.updates = hostmodel::UpdateCount(op);
    for (const auto& c : r.calls) {
        if (c.op == "measurer.UniformToNatural") {
            r.uniforms.push_back(c.reals.at(0));
            r.measurerOf.push_back(c.handle);
        } else if (c.op == "measurer.Init") {
            r.measurers.push_back(c.handle);
        }
    }
    hostmodel::FreeObject(op);
    return r;
}

// The uniform parameters of each emitted piece, split by the written segment records.
std::vector<std::vector<double>> Pieces(const Result& r) {
    std::vector<std::vector<double>> out;
    size_t at = 0;
    for (const auto& s : r.segments) {
        out.emplace_back(r.uniforms.begin() + static_cast<long>(at),
                         r.uniforms.begin() + static_cast<long>(at + s.cnt));
        at += static_cast<size_t>(s.cnt);
    }
    return out;
}

int64_t Sum(const std::vector<HostSegment>& s) {
    int64_t n = 0;
    for (const auto& x : s) n += x.cnt;
    return n;
}

bool SamePoints(const Pts& a, const Pts& b) {
    if (a.size() != b.size()) return false;
    return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(HostVector)) == 0;
}

// The host's own length of one segment's points, measured as the modifier measures them.
double HostLength(const Pts& pts, bool closed) {
    HostAtom* spline = Host().object.SplineAlloc(static_cast<int32_t>(pts.size()), 0);
    Host().container.SetBool(hostmodel::Container(spline), SPLINEOBJECT_CLOSED, closed ? 1 : 0);
    std::copy(pts.begin(), pts.end(), Host().object.GetPointW(spline));
    Host().object.Message(spline, MSG_UPDATE, nullptr);
    HostMeasurer* measurer = Host().measurer.Alloc();
    const double length = Host().measurer.Init(measurer, spline, 0, nullptr) != 0
                              ? Host().measurer.GetLength(measurer)
                              : 0.0;
    Host().measurer.Free(measurer);
    Host().object.Free(spline);
    return length;
}

const Pts kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const Pts kLine = {{0, 0, 0}, {1, 0, 0}};

using ModifyTest = HostTest;

}  // namespace

TEST_F(ModifyTest, DefaultsGiveOneHundredDashesPerSegment) {
    Modifier m;
    const Result r = Evaluate(m, kSquare, {4});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.segments.size(), 100u);
    const std::set<int> twoPoint = {1, 4, 5, 7, 10, 14, 35, 70, 83};
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(r.segments[i].cnt, twoPoint.count(i) ? 2 : 3) << "dash " << i;
        EXPECT_EQ(r.segments[i].closed, 0);
    }
    EXPECT_EQ(r.points.size(), 9u * 2 + 91u * 3);
    const auto pieces = Pieces(r);
    EXPECT_EQ(pieces[0], (std::vector<double>{0.0, 0.0025, 0.005}));
    // Every dash runs from 2iK to (2i + 1)K, K = 1/200.
    const double K = 1.0 / 200.0;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(pieces[i].front(), i == 0 ? 0.0 : (2.0 * i) * K) << i;
        EXPECT_EQ(pieces[i].back(), (2.0 * i + 1.0) * K) << i;
    }
    EXPECT_EQ(r.updates, 1);
    // Points are where the host put the samples: the first dash starts at the first point.
    EXPECT_EQ(r.points[0].x, 0.0);
    EXPECT_EQ(r.points[0].y, 0.0);
}

TEST_F(ModifyTest, OffsetWrapsDashesAroundTheSegmentEnd) {
    auto piecesFor = [](double offset) {
        Modifier m;
        m.Long(KORRAND_COUNT, 1).Real(KORRAND_OFFSET, offset);
        return Pieces(Evaluate(m, kSquare, {4}));
    };
    using V = std::vector<std::vector<double>>;
    EXPECT_EQ(piecesFor(0.75), (V{{0.75, 1.0}, {0.0, 0.25}}));
    EXPECT_EQ(piecesFor(-0.25), (V{{0.75, 1.0}, {0.0, 0.25}}));
    EXPECT_EQ(piecesFor(0.0), (V{{0.0, 0.25, 0.5}}));
    // Both ends past the same whole number: no cut, the samples are reduced into [0, 1].
    EXPECT_EQ(piecesFor(1.5), (V{{0.5, 0.75, 0.0}}));
    // Offsets beyond 32-bit range still reduce to their fraction.
    EXPECT_EQ(piecesFor(4294967296.75), (V{{0.75, 1.0}, {0.0, 0.25}}));
}

TEST_F(ModifyTest, RangeClipsDashesAndIsNormalised) {
    Modifier clip;
    clip.Long(KORRAND_COUNT, 1).Real(KORRAND_START, 0.2).Real(KORRAND_END, 0.3);
    const auto pieces = Pieces(Evaluate(clip, kSquare, {4}));
    ASSERT_EQ(pieces.size(), 1u);
    ASSERT_EQ(pieces[0].size(), 2u);
    EXPECT_EQ(pieces[0][0], 0.2);
    EXPECT_NEAR(pieces[0][1], 0.3, 1e-15);

    auto pointsFor = [](double start, double end) {
        Modifier m;
        m.Real(KORRAND_START, start).Real(KORRAND_END, end);
        return Evaluate(m, kSquare, {4}).points;
    };
    EXPECT_TRUE(SamePoints(pointsFor(0.7, 0.2), pointsFor(0.2, 0.7)));
    EXPECT_TRUE(SamePoints(pointsFor(-0.5, 2.0), pointsFor(0.0, 1.0)));
    // NaN bounds clamp nothing, and the division parameters lie in [0, 1) already.
    EXPECT_TRUE(SamePoints(pointsFor(std::nan(""), std::nan("")), pointsFor(0.0, 1.0)));
    EXPECT_TRUE(SamePoints(pointsFor(-INFINITY, INFINITY), pointsFor(0.0, 1.0)));

    // Exactly 0.001 apart still covers something.
    EXPECT_FALSE(pointsFor(0.0, 0.001).empty());
}

TEST_F(ModifyTest, NaNBoundsAreNeitherClampedNorExchangedNorEmpty) {
    const double nan = std::nan("");
    const Pts corner = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    using V = std::vector<std::vector<double>>;

    // Only the finite end clamps: one dash is cut down to [0, 0.0005], the rest collapse onto it.
    Modifier low;
    low.Bool(KORRAND_CLOSED, false).Real(KORRAND_START, nan).Real(KORRAND_END, 0.0005);
    const Result r1 = Evaluate(low, corner, {3});
    EXPECT_TRUE(r1.ok);
    EXPECT_EQ(Pieces(r1), (V{{0.0, 0.0005}}));
    EXPECT_EQ(r1.updates, 1);

    // A jittered division below 0 is not raised to the start: it wraps to the segment's far end.
    Modifier jitter;
    jitter.Bool(KORRAND_CLOSED, false).Long(KORRAND_COUNT, 1).Real(KORRAND_JITTER, 5.0);
    jitter.Long(KORRAND_SEED, 100).Real(KORRAND_START, nan);
    const Result r2 = Evaluate(jitter, {{0, 0, 0}, {4, 0, 0}}, {2});
    EXPECT_EQ(Pieces(r2),
              (V{{0x1.01a9c783fcac7p-1, 0x1.7027019c9fb20p-1, 0x1.dea43bb542b78p-1, 1.0},
                 {0.0, 0x1.773d5fcd11854p-2}}));
    EXPECT_EQ(r2.points.size(), 6u);

    // Start 0.9995 with end NaN is not the empty-range exit: every dash is clamped up to the
    // start, so nothing is written, and the object is still updated.
    Modifier high;
    high.Bool(KORRAND_CLOSED, false).Real(KORRAND_START, 0.9995).Real(KORRAND_END, nan);
    const Result r3 = Evaluate(high, corner, {3});
    EXPECT_TRUE(r3.ok);
    EXPECT_TRUE(r3.points.empty());
    EXPECT_TRUE(r3.segments.empty());
    EXPECT_EQ(r3.updates, 1);
}

TEST_F(ModifyTest, EmptyRangeEmptiesTheObjectWithoutUpdate) {
    Modifier m;
    m.Real(KORRAND_START, 0.3).Real(KORRAND_END, 0.3004);
    const Result r = Evaluate(m, kSquare, {4});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.points.empty());
    EXPECT_TRUE(r.segments.empty());
    EXPECT_EQ(r.updates, 0);
    for (const auto& c : r.calls) EXPECT_NE(c.op, "object.SplineAlloc");

    // The result is the resize's own.
    HostAtom* op = hostmodel::NewLineObject(kSquare, {4});
    hostmodel::SetResizeFails(op, true);
    EXPECT_FALSE(m.Modify(op));
    hostmodel::FreeObject(op);

    // A container without an end reads end 0: empty with start 0.
    Modifier absent;
    hostmodel::Erase(absent.Bc(), KORRAND_END);
    EXPECT_TRUE(Evaluate(absent, kSquare, {4}).points.empty());
}

TEST_F(ModifyTest, SampleCountFollowsSubdivision) {
    auto pointsPerDash = [](Int32 subdivision) {
        Modifier m;
        m.Long(KORRAND_COUNT, 1).Long(KORRAND_SUBDIVISION, subdivision);
        const Result r = Evaluate(m, kSquare, {4});
        EXPECT_EQ(r.segments.size(), 1u);
        return r.segments.empty() ? 0 : r.segments[0].cnt;
    };
    EXPECT_EQ(pointsPerDash(98), 100);
    EXPECT_EQ(pointsPerDash(97), 99);
    EXPECT_EQ(pointsPerDash(500), 100);
    EXPECT_EQ(pointsPerDash(-2), 2);
    EXPECT_EQ(pointsPerDash(-1000000), 2);
    // subdivision + 2 saturates instead of wrapping to a negative count.
    EXPECT_EQ(pointsPerDash(2147483647), 100);
}

TEST_F(ModifyTest, CountEdgesAndHugeCounts) {
    Modifier none;
    none.Long(KORRAND_COUNT, 0);
    const Result r0 = Evaluate(none, kSquare, {4});
    EXPECT_TRUE(r0.points.empty());
    EXPECT_EQ(r0.updates, 1);

    Modifier negative;
    negative.Long(KORRAND_COUNT, -5);
    EXPECT_TRUE(Evaluate(negative, kSquare, {4}).points.empty());

    // 2 * count would wrap to a negative number: it saturates, and the division parameters
    // the host cannot hold are simply not laid out.
    Modifier huge;
    huge.Long(KORRAND_COUNT, 1 << 30);
    hostmodel::FailAllocationsFrom("ge_dynamicarray");
    const Result rh = Evaluate(huge, kSquare, {4});
    hostmodel::ResetFaults();
    EXPECT_TRUE(rh.ok);
    EXPECT_EQ(Sum(rh.segments), static_cast<int64_t>(rh.points.size()));
}

TEST_F(ModifyTest, RelativeScalesByTheLongestSegment) {
    Modifier m;
    m.Bool(KORRAND_RELATIVE, true).Bool(KORRAND_CLOSED, false);
    // Open straight segments of length 5, 2.5 and 0.1375 (n = 200, 100 and 5).
    const Pts pts = {{0, 0, 0}, {5, 0, 0}, {0, 1, 0}, {2.5, 1, 0}, {0, 2, 0}, {0.1375, 2, 0}};
    const Result r = Evaluate(m, pts, {2, 2, 2});
    std::vector<int> perRecord(3, 0);
    size_t at = 0;
    for (const auto& s : r.segments) {
        const void* meas = r.measurerOf[at];
        for (size_t i = 0; i < r.measurers.size(); ++i)
            if (r.measurers[i] == meas) ++perRecord[i];
        at += static_cast<size_t>(s.cnt);
    }
    EXPECT_EQ(perRecord, (std::vector<int>{100, 50, 2}));
}

TEST_F(ModifyTest, DroppedSegmentsLeaveNoRecord) {
    Modifier m;
    m.Long(KORRAND_COUNT, 2).Bool(KORRAND_CLOSED, false);
    // Segments of 3, 2 and 4 points; the middle one has both points in one place.
    const Pts pts = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {7, 7, 7}, {7, 7, 7},
                     {0, 5, 0}, {0, 6, 0}, {0, 7, 0}, {0, 8, 0}};
    const Result r = Evaluate(m, pts, {3, 2, 4});
    int allocs = 0, inits = 0, splineFrees = 0, measurerFrees = 0;
    for (const auto& c : r.calls) {
        allocs += c.op == "object.SplineAlloc";
        inits += c.op == "measurer.Init";
        splineFrees += c.op == "object.Free";
        measurerFrees += c.op == "measurer.Free";
    }
    EXPECT_EQ(allocs, 3);
    EXPECT_EQ(inits, 3);
    EXPECT_EQ(splineFrees, 3);
    EXPECT_EQ(measurerFrees, 3);
    ASSERT_EQ(r.segments.size(), 4u);  // two dashes on each kept segment
    // The third segment's dashes lie on its own points 5..8: x = 0, y in [5, 8].
    size_t firstOfThird = static_cast<size_t>(r.segments[0].cnt + r.segments[1].cnt);
    for (size_t i = firstOfThird; i < r.points.size(); ++i) {
        EXPECT_EQ(r.points[i].x, 0.0);
        EXPECT_GE(r.points[i].y, 5.0);
        EXPECT_LE(r.points[i].y, 8.0);
    }
    for (size_t i = 0; i < firstOfThird; ++i) EXPECT_EQ(r.points[i].y, 0.0);
}

TEST_F(ModifyTest, NoSegmentsOrAllDroppedWritesAnEmptyObject) {
    Modifier m;
    for (const auto& input : {std::make_pair(Pts{}, std::vector<int32_t>{}),
                              std::make_pair(Pts{{1, 1, 1}}, std::vector<int32_t>{1}),
                              std::make_pair(Pts{}, std::vector<int32_t>{0, 0})}) {
        const Result r = Evaluate(m, input.first, input.second);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.points.empty());
        EXPECT_TRUE(r.segments.empty());
        EXPECT_EQ(r.updates, 1);
    }
}

TEST_F(ModifyTest, ClosedMeasuringIncludesTheClosingEdge) {
    const Pts open3 = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    auto lastPoint = [&](bool closed, std::vector<int32_t> flags) {
        Modifier m;
        m.Long(KORRAND_COUNT, 1).Bool(KORRAND_CLOSED, closed);
        const Result r = Evaluate(m, open3, {3}, flags);
        EXPECT_EQ(r.segments.size(), 1u);
        return r.points.back();
    };
    // The dash covers the first half of the length: 2 + sqrt(2) closed, 2 open.
    const HostVector closed = lastPoint(true, {0});
    EXPECT_NEAR(closed.x, 1.0, 1e-12);
    EXPECT_NEAR(closed.y, (2.0 + std::sqrt(2.0)) / 2.0 - 1.0, 1e-12);
    const HostVector open = lastPoint(false, {0});
    EXPECT_NEAR(open.x, 1.0, 1e-12);
    EXPECT_NEAR(open.y, 0.0, 1e-12);
    // The input records' own closed flags play no part.
    const HostVector flagged = lastPoint(false, {1});
    EXPECT_EQ(Bits(flagged.y), Bits(open.y));
}

TEST_F(ModifyTest, JitterDrawsOncePerDivisionInRecordOrder) {
    const Pts pts = {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {10, 10, 0}, {12, 10, 0}, {12, 14, 0}};
    auto run = [](const Pts& p, const std::vector<int32_t>& c, Int32 seed, double jitter) {
        Modifier m;
        m.Real(KORRAND_JITTER, jitter).Long(KORRAND_SEED, seed);
        return Evaluate(m, p, c);
    };
    const Result both = run(pts, {3, 3}, 100, 0.5);
    // The second record continues the sequence after exactly 200 draws for the first.
    SeededRandom g;
    g.Seed(100);
    for (int i = 0; i < 200; ++i) g.NextSigned();
    const Pts second(pts.begin() + 3, pts.end());
    const Result alone = run(second, {3}, static_cast<Int32>(g.State()), 0.5);
    ASSERT_FALSE(alone.points.empty());
    ASSERT_LT(alone.points.size(), both.points.size());
    const Pts tail(both.points.end() - static_cast<long>(alone.points.size()), both.points.end());
    EXPECT_TRUE(SamePoints(tail, alone.points));

    // A dropped segment draws nothing.
    const Pts withZero = {{5, 5, 5}, {5, 5, 5}, {10, 10, 0}, {12, 10, 0}, {12, 14, 0}};
    EXPECT_TRUE(
        SamePoints(run(withZero, {2, 3}, 100, 0.5).points, run(second, {3}, 100, 0.5).points));

    // Repeated evaluation is bit-identical; the seed matters only with jitter.
    EXPECT_TRUE(SamePoints(run(pts, {3, 3}, 7, 0.5).points, run(pts, {3, 3}, 7, 0.5).points));
    EXPECT_FALSE(SamePoints(run(pts, {3, 3}, 7, 0.5).points, run(pts, {3, 3}, 8, 0.5).points));
    for (double j : {0.0, -1.0, std::nan("")})
        EXPECT_TRUE(SamePoints(run(pts, {3, 3}, 7, j).points, run(pts, {3, 3}, 8, j).points));
    // The reserved parameter is read by nothing.
    Modifier a, b;
    b.Real(KORRAND_RESERVED_1011, 42.0);
    EXPECT_TRUE(SamePoints(Evaluate(a, pts, {3, 3}).points, Evaluate(b, pts, {3, 3}).points));
}

// The two products whose order the macOS build changes, pinned to the bits each build gives.
// The expected values were worked out apart from the dash pattern, step by step as written here,
// in Python's double arithmetic.
TEST_F(ModifyTest, JitterAndSamplesAreFormedInThisBuildsOrder) {
    // One dash (divisions 0 and 0.5), seed 20261208, jitter 3: the first division is 0 displaced
    // by the draw d = 0x1.404a14457f6bcp-2 (the same in both builds), and the dash's first sample
    // is that division itself. Windows: (d x 0.1) x 3; macOS: (0.1 x 3) x d.
    Modifier jitter;
    jitter.Long(KORRAND_COUNT, 1).Bool(KORRAND_CLOSED, false);
    jitter.Real(KORRAND_JITTER, 3.0).Long(KORRAND_SEED, 20261208);
    const Result rj = Evaluate(jitter, kLine, {2});
    ASSERT_FALSE(rj.uniforms.empty());
    EXPECT_EQ(rj.uniforms[0],
              KORRAND_MACOS_ARITHMETIC ? 0x1.8058e52032816p-4 : 0x1.8058e52032814p-4);

    // One dash clipped to [0.1, 0.5] with subdivision 98: 80 samples, h = 1 / 79, span = 0.5 -
    // 0.1. Sample 10, Windows: (10 x h) x span + 0.1; macOS: 10 x (h x span) + 0.1.
    Modifier samples;
    samples.Long(KORRAND_COUNT, 1).Bool(KORRAND_CLOSED, false).Long(KORRAND_SUBDIVISION, 98);
    samples.Real(KORRAND_START, 0.1).Real(KORRAND_END, 0.9);
    const Result rs = Evaluate(samples, kLine, {2});
    ASSERT_EQ(rs.uniforms.size(), 80u);
    EXPECT_EQ(rs.uniforms[0], 0.1);
    EXPECT_EQ(rs.uniforms[10],
              KORRAND_MACOS_ARITHMETIC ? 0x1.347f07210d9c3p-3 : 0x1.347f07210d9c4p-3);
}

TEST_F(ModifyTest, SegmentCountsThatDoNotMatchThePoints) {
    Modifier m;
    m.Long(KORRAND_COUNT, 3);
    // Counts that claim more points than exist, and a negative count: what cannot be read is
    // dropped, the rest is dashed as usual.
    HostAtom* op = hostmodel::NewLineObject(kSquare, {4});
    Host().object.ResizeObject(op, 4, 3);
    HostSegment* seg = Host().object.GetSegmentW(op);
    seg[0].cnt = 4;
    seg[1].cnt = -4;
    seg[2].cnt = 1000000;
    EXPECT_TRUE(m.Modify(op));
    const auto segs = hostmodel::Segments(op);
    EXPECT_EQ(segs.size(), 3u);
    EXPECT_EQ(Sum(segs), static_cast<int64_t>(hostmodel::Points(op).size()));
    hostmodel::FreeObject(op);
}

TEST_F(ModifyTest, NegativeCountsMoveThePointOffsetBack) {
    const Pts pts = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 5, 0}, {2, 9, 0}};
    Modifier m;
    m.Long(KORRAND_COUNT, 1).Bool(KORRAND_CLOSED, false);
    // Counts 3, -1, 2: the third segment starts at point 3 - 1 = 2.
    const Result r = Evaluate(m, pts, {3, -1, 2});
    ASSERT_EQ(r.segments.size(), 2u);
    const Pts third(r.points.end() - 3, r.points.end());
    EXPECT_TRUE(SamePoints(third, Pts{{2, 0, 0}, {2, 1.25, 0}, {2, 2.5, 0}}));
    for (const auto& c : r.calls) {
        if (c.op == "object.SplineAlloc") {
            EXPECT_GE(c.ints.at(0), 0);
        }
    }

    // A count that moves the offset before the first point: the segments starting there are
    // dropped, those after it that land on the points again are read.
    Modifier n;
    n.Long(KORRAND_COUNT, 1).Bool(KORRAND_CLOSED, false);
    const Result back = Evaluate(n, pts, {-2, 2, 3});
    ASSERT_EQ(back.segments.size(), 1u);
    EXPECT_TRUE(SamePoints(back.points, Pts{{0, 0, 0}, {0.5, 0, 0}, {1, 0, 0}}));
}

TEST_F(ModifyTest, NonLineObjectsAreLeftAlone) {
    Modifier m;
    HostAtom* poly = hostmodel::NewObject(HOST_OBJECT_POLYGON);
    hostmodel::StartRecording();
    EXPECT_TRUE(m.Modify(poly));
    const auto calls = hostmodel::StopRecording();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, "object.GetType");
    hostmodel::FreeObject(poly);
}

TEST_F(ModifyTest, EveryAllocationFailingInTurnLeavesAConsistentObject) {
    const Pts pts = {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {10, 10, 0}, {12, 10, 0}, {12, 14, 0}};
    Modifier m;
    m.Long(KORRAND_COUNT, 700).Real(KORRAND_JITTER, 0.2);  // enough output to grow every array
    const int64_t liveBlocks = hostmodel::Memory().liveBlocks;
    const int64_t liveObjects = hostmodel::LiveObjects();
    const int64_t memBefore = hostmodel::AllocationCount();
    const int64_t objBefore = hostmodel::ObjectAllocationCount();
    const Result full = Evaluate(m, pts, {3, 3});
    const int64_t memAllocs = hostmodel::AllocationCount() - memBefore;
    const int64_t objAllocs = hostmodel::ObjectAllocationCount() - objBefore;
    ASSERT_GE(memAllocs, 6);
    ASSERT_GE(objAllocs, 4);

    for (int kind = 0; kind < 2; ++kind) {
        const int64_t total = kind == 0 ? memAllocs : objAllocs;
        for (int64_t i = 1; i <= total; ++i) {
            HostAtom* op = hostmodel::NewLineObject(pts, {3, 3});
            if (kind == 0)
                hostmodel::FailAllocationNumber(i);
            else
                hostmodel::FailObjectAllocations(i);
            const bool ok = m.Modify(op);
            hostmodel::ResetFaults();
            EXPECT_TRUE(ok) << kind << ":" << i;
            const auto segs = hostmodel::Segments(op);
            const auto points = hostmodel::Points(op);
            EXPECT_EQ(Sum(segs), static_cast<int64_t>(points.size())) << kind << ":" << i;
            EXPECT_LE(points.size(), full.points.size());
            hostmodel::FreeObject(op);
            EXPECT_EQ(hostmodel::Memory().liveBlocks, liveBlocks) << kind << ":" << i;
            EXPECT_EQ(hostmodel::LiveObjects(), liveObjects) << kind << ":" << i;
        }
    }
}

// Without jitter or relative counts, what a failure costs is exactly what could not be held: the
// dashes written are the full result's, in order and bit for bit, and a failed work spline or
// measurer drops exactly its own segment.
TEST_F(ModifyTest, EachAllocationFailureLeavesOutOnlyWhatItCouldNotHold) {
    const Pts pts = {{0, 0, 0},   {3, 0, 0},   {3, 2, 0},   {10, 10, 0}, {12, 10, 0},
                     {12, 14, 0}, {-5, -5, 1}, {-9, -5, 2}, {-9, 0, 3}};
    const std::vector<int32_t> counts = {3, 3, 3};
    Modifier m;
    m.Long(KORRAND_COUNT, 3000).Real(KORRAND_OFFSET, 0.3);  // several blocks of every array
    const int64_t memBefore = hostmodel::AllocationCount();
    const int64_t objBefore = hostmodel::ObjectAllocationCount();
    const Result full = Evaluate(m, pts, counts);
    const int64_t memAllocs = hostmodel::AllocationCount() - memBefore;
    const int64_t objAllocs = hostmodel::ObjectAllocationCount() - objBefore;
    ASSERT_GE(memAllocs, 10);
    ASSERT_EQ(objAllocs, 6);  // a work spline and a measurer per segment

    auto dashes = [](const Result& r) {
        std::vector<Pts> out;
        size_t at = 0;
        for (const auto& s : r.segments) {
            out.emplace_back(r.points.begin() + static_cast<long>(at),
                             r.points.begin() + static_cast<long>(at + s.cnt));
            at += static_cast<size_t>(s.cnt);
        }
        return out;
    };
    const std::vector<Pts> all = dashes(full);
    int64_t injected = 0;
    for (int64_t i = 1; i <= memAllocs; ++i) {
        hostmodel::FailAllocationNumber(i);
        const Result r = Evaluate(m, pts, counts);
        hostmodel::ResetFaults();
        ++injected;
        ASSERT_TRUE(r.ok) << i;
        ASSERT_EQ(Sum(r.segments), static_cast<int64_t>(r.points.size())) << i;
        EXPECT_LT(r.points.size(), full.points.size()) << "failure " << i << " cost nothing";
        size_t k = 0;
        for (const Pts& d : dashes(r)) {
            while (k < all.size() && !SamePoints(all[k], d)) ++k;
            ASSERT_LT(k, all.size()) << "failure " << i << " wrote a dash of its own";
            ++k;
        }
    }
    for (int64_t i = 1; i <= objAllocs; ++i) {
        hostmodel::FailObjectAllocations(i);
        const Result r = Evaluate(m, pts, counts);
        hostmodel::ResetFaults();
        ++injected;
        const size_t dropped = static_cast<size_t>((i - 1) / 2);
        Pts rest;
        std::vector<int32_t> restCounts;
        for (size_t s = 0, at = 0; s < counts.size(); at += static_cast<size_t>(counts[s]), ++s) {
            if (s == dropped) continue;
            rest.insert(rest.end(), pts.begin() + static_cast<long>(at),
                        pts.begin() + static_cast<long>(at + counts[s]));
            restCounts.push_back(counts[s]);
        }
        const Result expected = Evaluate(m, rest, restCounts);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(SamePoints(r.points, expected.points)) << "object failure " << i;
        EXPECT_EQ(r.segments.size(), expected.segments.size()) << "object failure " << i;
    }
    EXPECT_EQ(injected, memAllocs + objAllocs);
    std::printf("%lld allocation failures injected into one modify call\n",
                static_cast<long long>(injected));
}

namespace {
// Distance from p to the polyline through pts (closed adds the edge back to the start).
double DistanceToPolyline(const HostVector& p, const Pts& pts, bool closed) {
    double best = INFINITY;
    const size_t n = pts.size();
    for (size_t i = 0; i + 1 < n + (closed ? 1 : 0); ++i) {
        const HostVector& a = pts[i];
        const HostVector& b = pts[(i + 1) % n];
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double len2 = dx * dx + dy * dy + dz * dz;
        double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy + (p.z - a.z) * dz) / len2 : 0;
        t = std::min(1.0, std::max(0.0, t));
        const double ex = a.x + dx * t - p.x, ey = a.y + dy * t - p.y, ez = a.z + dz * t - p.z;
        best = std::min(best, std::sqrt(ex * ex + ey * ey + ez * ez));
    }
    return best;
}
}  // namespace

TEST_F(ModifyTest, PropertyDashesLieOnTheirSegmentAndNeverOverlap) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<double> coord(-50, 50);
    for (int trial = 0; trial < 150; ++trial) {
        const int segCount = 1 + static_cast<int>(rng() % 4);
        Pts pts;
        std::vector<int32_t> counts;
        std::vector<Pts> segPts;
        for (int s = 0; s < segCount; ++s) {
            const int n = 2 + static_cast<int>(rng() % 12);
            counts.push_back(n);
            segPts.emplace_back();
            for (int i = 0; i < n; ++i) {
                HostVector v = {coord(rng), coord(rng), trial % 2 ? coord(rng) : 0.0};
                pts.push_back(v);
                segPts.back().push_back(v);
            }
        }
        const bool closed = rng() % 2 == 0;
        Modifier m;
        m.Long(KORRAND_COUNT, 1 + static_cast<Int32>(rng() % 40))
            .Long(KORRAND_SUBDIVISION, static_cast<Int32>(rng() % 6))
            .Real(KORRAND_OFFSET, std::uniform_real_distribution<double>(-3, 3)(rng))
            .Real(KORRAND_START, std::uniform_real_distribution<double>(0, 0.5)(rng))
            .Real(KORRAND_END, std::uniform_real_distribution<double>(0.5, 1)(rng))
            .Real(KORRAND_JITTER, rng() % 3 == 0 ? 0.8 : 0.0)
            .Bool(KORRAND_RELATIVE, rng() % 2 == 0)
            .Bool(KORRAND_CLOSED, closed)
            .Long(KORRAND_SEED, static_cast<Int32>(rng()));
        const Result r = Evaluate(m, pts, counts);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(Sum(r.segments), static_cast<int64_t>(r.points.size()));
        ASSERT_EQ(r.uniforms.size(), r.points.size());
        ASSERT_EQ(r.measurers.size(), static_cast<size_t>(segCount));

        // The measurer is handed exactly the dash pattern's parameters, in order.
        std::vector<double> lengths;
        for (const Pts& seg : segPts) lengths.push_back(HostLength(seg, closed));
        dash::Plan plan;
        dash::PlanSink sink(plan);
        dash::PlanPass(m.Settings(), lengths, sink);
        ASSERT_EQ(r.uniforms, plan.u) << "trial " << trial;

        // Arcs of each record on the unit circle of its uniform parameter.
        std::vector<std::vector<std::pair<double, double>>> arcs(segCount);
        size_t at = 0;
        for (const auto& s : r.segments) {
            const size_t rec = static_cast<size_t>(
                std::find(r.measurers.begin(), r.measurers.end(), r.measurerOf[at]) -
                r.measurers.begin());
            ASSERT_LT(rec, static_cast<size_t>(segCount));
            double size = 0;
            for (const auto& p : segPts[rec])
                size = std::max({size, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
            double lo = r.uniforms[at], hi = lo, prev = lo;
            for (int k = 0; k < s.cnt; ++k) {
                ASSERT_EQ(r.measurerOf[at + k], r.measurerOf[at]);
                const double u = r.uniforms[at + k];
                ASSERT_GE(u, 0.0);
                ASSERT_LE(u, 1.0);
                // A sample that lands exactly on a whole number reads as the start again.
                hi = u < prev ? u + 1.0 : u;
                prev = hi;
                EXPECT_LT(DistanceToPolyline(r.points[at + k], segPts[rec], closed), 1e-9 * size)
                    << "trial " << trial;
            }
            arcs[rec].emplace_back(lo, hi);
            at += static_cast<size_t>(s.cnt);
        }
        for (const auto& list : arcs)
            for (size_t i = 0; i < list.size(); ++i)
                for (size_t j = i + 1; j < list.size(); ++j)
                    for (double shift : {-1.0, 0.0, 1.0}) {
                        const double lo = std::max(list[i].first, list[j].first + shift);
                        const double hi = std::min(list[i].second, list[j].second + shift);
                        EXPECT_LE(hi - lo, 1e-12) << "trial " << trial << " dashes overlap";
                    }

        const Result again = Evaluate(m, pts, counts);
        EXPECT_TRUE(SamePoints(r.points, again.points));
    }
}
