// The bridge as its callers use it: only through korrand_bridge.h, on the built plug-in folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "korrand_bridge.h"

namespace {

const std::string kFolder = KORRAND_PLUGIN_FOLDER;

struct Alive {
    int64_t blocks = 0, objects = 0;
    static Alive Now() {
        Alive a;
        korrand_host_alive(&a.blocks, &a.objects);
        return a;
    }
};

// The parameter of the description whose name is name; fails the test when there is none.
KorrandParameter Param(KorrandPlugin* p, const std::string& name) {
    for (int32_t i = 0; i < korrand_parameter_count(p); ++i) {
        KorrandParameter q{};
        EXPECT_EQ(korrand_parameter(p, i, &q), KORRAND_OK);
        if (name == q.name) return q;
    }
    ADD_FAILURE() << "no parameter " << name;
    return KorrandParameter{};
}

struct Line {
    std::vector<double> points;
    std::vector<int32_t> counts;
};

Line Result(const KorrandLine& l) {
    Line out;
    out.points.assign(l.points, l.points + 3 * l.point_count);
    out.counts.assign(l.counts, l.counts + l.segment_count);
    return out;
}

// A unit square and a wavy open line, two segments.
Line Shape() {
    Line s;
    s.points = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    s.counts.push_back(4);
    for (int i = 0; i < 40; ++i) {
        const double x = 0.25 * i;
        s.points.insert(s.points.end(), {x, std::sin(x), 0.1 * x});
    }
    s.counts.push_back(40);
    return s;
}

// Dashes in as one line object of all its segments (its points rounded to floats, as the bridge
// takes them), as a host hands over a curve whose segments it does not split.
Line DashAll(KorrandInstance* inst, const Line& in, int32_t status = KORRAND_OK) {
    const std::vector<float> in32(in.points.begin(), in.points.end());
    const auto n = static_cast<int32_t>(in.counts.size());
    std::vector<int32_t> all(in.counts.size());
    for (int32_t i = 0; i < n; ++i) all[static_cast<size_t>(i)] = i;
    const KorrandLineObject object{0, n, 0, 0};
    int32_t dashes = -1;
    KorrandLine out{};
    EXPECT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), n, all.data(), &object,
                                   1, nullptr, nullptr, &dashes, &out),
              status)
        << korrand_last_error();
    if (status != KORRAND_OK) return Line{};
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(dashes, out.segment_count);
    return Result(out);
}

// in's points as the bridge takes them: rounded to floats, widened back.
Line Rounded(const Line& in) {
    Line out = in;
    for (double& v : out.points) v = static_cast<float>(v);
    return out;
}

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = Alive::Now();
        ASSERT_EQ(korrand_open(kFolder.c_str(), &plugin_), KORRAND_OK) << korrand_last_error();
    }
    void TearDown() override {
        korrand_close(plugin_);
        const Alive after = Alive::Now();
        EXPECT_EQ(after.blocks, before_.blocks) << "host memory blocks left after close";
        EXPECT_EQ(after.objects, before_.objects) << "host objects left after close";
    }
    KorrandInstance* NewInstance() {
        KorrandInstance* inst = nullptr;
        EXPECT_EQ(korrand_instance_create(plugin_, &inst), KORRAND_OK) << korrand_last_error();
        return inst;
    }
    Line Dash(KorrandInstance* inst, const Line& in) { return DashAll(inst, in); }

    Alive before_;
    KorrandPlugin* plugin_ = nullptr;
};

TEST_F(Bridge, DescribesTheModifierAndStartsInstancesAtItsDefaults) {
    EXPECT_EQ(korrand_bridge_version(), KORRAND_BRIDGE_VERSION);
    // Callers written for this version or an earlier compatible one are served; a newer caller
    // or one from before the last incompatible change is not.
    EXPECT_EQ(korrand_bridge_version_is_compatible(KORRAND_BRIDGE_VERSION), 1);
    EXPECT_EQ(korrand_bridge_version_is_compatible(KORRAND_BRIDGE_OLDEST_COMPATIBLE), 1);
    EXPECT_EQ(korrand_bridge_version_is_compatible(KORRAND_BRIDGE_VERSION + 1), 0);
    EXPECT_EQ(korrand_bridge_version_is_compatible(KORRAND_BRIDGE_OLDEST_COMPATIBLE - 1), 0);
    EXPECT_NE(korrand_plugin_id(plugin_), 0);
    EXPECT_NE(std::string(korrand_plugin_name(plugin_)).find("Korrand"), std::string::npos);

    const KorrandParameter count = Param(plugin_, "KORRAND_COUNT");
    EXPECT_EQ(count.type, KORRAND_TYPE_LONG);
    EXPECT_TRUE(count.has_default && count.has_min && count.has_max);
    EXPECT_STREQ(count.key, "count");
    EXPECT_NE(std::string(count.help), "");
    const KorrandParameter closed = Param(plugin_, "KORRAND_CLOSED");
    EXPECT_EQ(closed.type, KORRAND_TYPE_BOOL);
    EXPECT_STREQ(closed.off, "open");
    EXPECT_EQ(closed.hidden, 0);
    EXPECT_EQ(Param(plugin_, "KORRAND_RESERVED_1011").hidden, 1);
    EXPECT_EQ(Param(plugin_, "KORRAND_JITTER").type, KORRAND_TYPE_REAL);
    EXPECT_EQ(Param(plugin_, "KORRAND_WEBLINK").type, KORRAND_TYPE_BUTTON);

    KorrandInstance* inst = NewInstance();
    for (int32_t i = 0; i < korrand_parameter_count(plugin_); ++i) {
        KorrandParameter p{};
        ASSERT_EQ(korrand_parameter(plugin_, i, &p), KORRAND_OK);
        if (p.type == KORRAND_TYPE_BUTTON) continue;
        double v = -1;
        ASSERT_EQ(korrand_get(inst, p.id, &v), KORRAND_OK) << p.name;
        EXPECT_EQ(v, p.default_value) << p.name;
    }
    // Values go in with the type of their parameter and come back unchanged.
    EXPECT_EQ(korrand_set(inst, count.id, 12), KORRAND_OK);
    const KorrandParameter offset = Param(plugin_, "KORRAND_OFFSET");
    EXPECT_EQ(korrand_set(inst, offset.id, 0.3), KORRAND_OK);
    double v = 0;
    EXPECT_EQ(korrand_get(inst, count.id, &v), KORRAND_OK);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(korrand_get(inst, offset.id, &v), KORRAND_OK);
    EXPECT_EQ(v, 0.3);
    korrand_instance_destroy(inst);
}

TEST_F(Bridge, DashesALineObjectAndReadsItsResult) {
    KorrandInstance* inst = NewInstance();
    const KorrandParameter count = Param(plugin_, "KORRAND_COUNT");
    ASSERT_EQ(korrand_set(inst, count.id, 8), KORRAND_OK);
    const Line in = Shape();
    const Line out = Dash(inst, in);
    ASSERT_EQ(out.counts.size(), 16u);  // eight dashes on each of the two segments
    int64_t sum = 0;
    for (int32_t c : out.counts) sum += c;
    EXPECT_EQ(static_cast<size_t>(3 * sum), out.points.size());
    for (size_t i = 0; i < 3 * static_cast<size_t>(out.counts[0] + out.counts[1]); i += 3) {
        const double x = out.points[i], y = out.points[i + 1];
        EXPECT_TRUE(x == 0 || x == 1 || y == 0 || y == 1) << "off the square: " << x << ", " << y;
    }
    // Its points as floats, each coordinate rounded once, and its dashes as chains of edges.
    std::vector<float> xyz(out.points.size());
    ASSERT_EQ(korrand_result_xyz(inst, xyz.data(), static_cast<int64_t>(xyz.size())), KORRAND_OK);
    for (size_t i = 0; i < xyz.size(); ++i) EXPECT_EQ(xyz[i], static_cast<float>(out.points[i]));
    EXPECT_NE(korrand_result_xyz(inst, xyz.data(), 3), KORRAND_OK);
    std::vector<int32_t> edges(2 * (static_cast<size_t>(sum) - out.counts.size()));
    ASSERT_EQ(korrand_result_edges(inst, edges.data(), static_cast<int64_t>(edges.size())),
              KORRAND_OK);
    EXPECT_EQ(edges[0], 0);
    EXPECT_EQ(edges[1], 1);
    const auto second = static_cast<size_t>(2 * (out.counts[0] - 1));
    EXPECT_EQ(edges[second], out.counts[0]) << "the second dash starts a chain of its own";
    EXPECT_EQ(edges.back(), sum - 1);
    EXPECT_NE(korrand_result_edges(inst, edges.data(), 1), KORRAND_OK);

    // An empty line object stays empty.
    const Line none = Dash(inst, Line{});
    EXPECT_TRUE(none.counts.empty() && none.points.empty());
    korrand_instance_destroy(inst);
}

// The host sees each point the plug-in samples: where it lies on the input, what values given
// for the input's points are there, and the dashes back in the order of the input's segments.
TEST_F(Bridge, TellsWhereEachPointLiesOnTheInput) {
    KorrandInstance* inst = NewInstance();
    const KorrandParameter count = Param(plugin_, "KORRAND_COUNT");
    const KorrandParameter jitter = Param(plugin_, "KORRAND_JITTER");
    ASSERT_EQ(korrand_set(inst, count.id, 5), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, jitter.id, 0.5), KORRAND_OK);
    const Line in = Rounded(Shape());
    const std::vector<float> in32(in.points.begin(), in.points.end());
    // The wave, then the square, as two objects: the caller's numbering of the segments holds.
    const int32_t segments[] = {1, 0};
    const KorrandLineObject objects[] = {{0, 1, 0, 0}, {1, 1, 0, 0}};
    int32_t dashes[2];
    KorrandLine got{};
    ASSERT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, segments, objects, 2,
                                   nullptr, nullptr, dashes, &got),
              KORRAND_OK);
    const Line out = Result(got);
    const auto n = static_cast<size_t>(got.point_count);
    std::vector<int32_t> segment(n);
    std::vector<double> uniform(n), position(n);
    ASSERT_EQ(korrand_result_sources(inst, segment.data(), uniform.data(), position.data(),
                                     static_cast<int64_t>(n)),
              KORRAND_OK)
        << korrand_last_error();
    // Each point is the input evaluated where its source says, bit for bit, as the host
    // evaluates: on the edge from the point at the position's whole part to the next.
    const std::vector<int64_t> first = {0, in.counts[0]};
    for (size_t i = 0; i < n; ++i) {
        const int32_t s = segment[i];
        ASSERT_TRUE(s == 0 || s == 1);
        const int64_t c = in.counts[static_cast<size_t>(s)];
        const double x = position[i];
        const int64_t edges = c;  // both measured closed, the plug-in's default
        ASSERT_TRUE(x >= 0 && x <= static_cast<double>(edges)) << x;
        const int64_t k = x >= static_cast<double>(edges - 1) ? edges - 1 : static_cast<int64_t>(x);
        const double f = x - static_cast<double>(k);
        const int64_t b = k + 1 == c ? 0 : k + 1;
        for (size_t d = 0; d < 3; ++d) {
            const double pa = in.points[static_cast<size_t>(3 * (first[s] + k)) + d];
            const double pb = in.points[static_cast<size_t>(3 * (first[s] + b)) + d];
            EXPECT_EQ(out.points[3 * i + d], pa + (pb - pa) * f) << "point " << i;
        }
        EXPECT_TRUE(uniform[i] >= 0 && uniform[i] <= 1) << uniform[i];
    }
    int64_t wavePoints = 0;
    for (int32_t d = 0; d < dashes[0]; ++d) wavePoints += out.counts[static_cast<size_t>(d)];
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(segment[i], static_cast<int64_t>(i) < wavePoints ? 1 : 0) << "point " << i;

    // Values given per input point (here each point's x and its index) are carried onto the
    // result's points as they lie between two input points.
    std::vector<float> values;
    for (size_t i = 0; i < in32.size() / 3; ++i)
        values.insert(values.end(), {in32[3 * i], static_cast<float>(i)});
    std::vector<float> carried(2 * n);
    ASSERT_EQ(korrand_result_carry(inst, values.data(), 2, static_cast<int64_t>(values.size() / 2),
                                   carried.data(), static_cast<int64_t>(carried.size())),
              KORRAND_OK)
        << korrand_last_error();
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(carried[2 * i], out.points[3 * i], 1e-5) << i;
    EXPECT_EQ(korrand_result_carry(inst, values.data(), 2, 3, carried.data(),
                                   static_cast<int64_t>(carried.size())),
              KORRAND_ERROR_ARGUMENT)
        << "values for another number of points";

    // Back in the order of the input's segments: the square's dashes first, each segment's in
    // the order they came, with their points and sources.
    KorrandLine ordered{};
    ASSERT_EQ(korrand_result_in_segment_order(inst, &ordered), KORRAND_OK);
    const Line sorted = Result(ordered);
    EXPECT_EQ(sorted.counts.size(), out.counts.size());
    const auto squarePoints =
        static_cast<std::ptrdiff_t>(3 * (static_cast<int64_t>(n) - wavePoints));
    EXPECT_TRUE(std::equal(sorted.points.begin(), sorted.points.begin() + squarePoints,
                           out.points.begin() + 3 * wavePoints));
    std::vector<int32_t> after(n);
    ASSERT_EQ(korrand_result_sources(inst, after.data(), nullptr, nullptr, static_cast<int64_t>(n)),
              KORRAND_OK);
    EXPECT_TRUE(std::is_sorted(after.begin(), after.end()));
    korrand_instance_destroy(inst);
}

// Trimmed to a range of each segment, as a curve drawn from a start to an end factor.
TEST_F(Bridge, TrimsTheResultToARangeOfEachSegment) {
    KorrandInstance* inst = NewInstance();
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_COUNT").id, 5), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_CLOSED").id, 0), KORRAND_OK);
    // Two open lines along x from 0 to 10, a point at every unit: dashes [0, 1], [2, 3] .. [8, 9].
    Line in;
    for (int line = 0; line < 2; ++line) {
        for (int i = 0; i <= 10; ++i)
            in.points.insert(in.points.end(), {double(i), double(line), 0});
        in.counts.push_back(11);
    }
    const Line whole = Dash(inst, in);
    ASSERT_EQ(whole.counts.size(), 10u);
    // The first line from 0.5 to 5.5: the dash across 0.5 is cut there, the gap at 5.5 cuts
    // nothing; of the second, nothing.
    const double from[] = {0.5, 1}, to[] = {5.5, 0};
    KorrandLine trimmed{};
    EXPECT_EQ(korrand_result_trim(inst, from, to, 1, &trimmed), KORRAND_ERROR_ARGUMENT)
        << "ranges for fewer segments than the result lies on";
    ASSERT_EQ(korrand_result_trim(inst, from, to, 2, &trimmed), KORRAND_OK) << korrand_last_error();
    const Line got = Result(trimmed);
    ASSERT_EQ(got.counts.size(), 3u);
    EXPECT_EQ(got.points[0], 0.5);
    EXPECT_EQ(got.points[3 * static_cast<size_t>(got.counts[0]) - 3], 1.0);
    for (size_t i = 0; i < got.points.size(); i += 3) {
        EXPECT_TRUE(got.points[i] >= 0.5 && got.points[i] <= 5.0) << got.points[i];
        EXPECT_EQ(got.points[i + 1], 0.0) << "a point of the second line";
    }
    // The sources follow: the cut point's is interpolated, exactly at the range's start.
    const auto n = static_cast<size_t>(trimmed.point_count);
    std::vector<int32_t> segment(n);
    std::vector<double> uniform(n), position(n);
    ASSERT_EQ(korrand_result_sources(inst, segment.data(), uniform.data(), position.data(),
                                     static_cast<int64_t>(n)),
              KORRAND_OK);
    EXPECT_EQ(position[0], 0.5);
    EXPECT_NEAR(uniform[0], 0.05, 1e-12);
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(position[i], got.points[3 * i], 1e-9);

    // A range that ends within the host's float rounding past a dash's start ([8, 9]) keeps
    // nothing of that dash: a piece of no length.
    Dash(inst, in);
    const double all[] = {0, 0}, nearEight[] = {8 + 1e-7, 8 + 1e-7};
    ASSERT_EQ(korrand_result_trim(inst, all, nearEight, 2, &trimmed), KORRAND_OK);
    EXPECT_EQ(Result(trimmed).counts.size(), 8u);

    // Turned round where the host sweeps a segment from its end: the second line's dashes.
    const Line forward = Dash(inst, in);
    const int32_t turned[] = {0, 1};
    KorrandLine back{};
    EXPECT_EQ(korrand_result_reverse(inst, turned, 1, &back), KORRAND_ERROR_ARGUMENT);
    ASSERT_EQ(korrand_result_reverse(inst, turned, 2, &back), KORRAND_OK);
    const Line reversed = Result(back);
    ASSERT_EQ(reversed.counts, forward.counts);
    size_t at = 0;
    for (const int32_t c : forward.counts) {
        const bool second = forward.points[3 * at + 1] == 1.0;
        for (size_t k = 0; k < static_cast<size_t>(c); ++k) {
            const size_t source = 3 * (second ? at + static_cast<size_t>(c) - 1 - k : at + k);
            EXPECT_EQ(reversed.points[3 * (at + k)], forward.points[source]) << at << " " << k;
        }
        at += static_cast<size_t>(c);
    }
    std::vector<double> where(static_cast<size_t>(back.point_count));  // the sources follow
    ASSERT_EQ(korrand_result_sources(inst, nullptr, nullptr, where.data(), back.point_count),
              KORRAND_OK);
    for (size_t i = 0; i < where.size(); ++i) EXPECT_NEAR(where[i], reversed.points[3 * i], 1e-9);
    korrand_instance_destroy(inst);
}

// The dash the modifier cuts at a closed segment's start is joined back into one, found by the
// sources; an open segment's pieces stay apart, and an untraced result is refused.
TEST_F(Bridge, JoinsTheDashCutAtAClosedSegmentsStart) {
    KorrandInstance* inst = NewInstance();
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_COUNT").id, 4), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_OFFSET").id, 0.2), KORRAND_OK);
    Line in;  // a square of side 4 from (0, 0)
    in.points = {0, 0, 0, 4, 0, 0, 4, 4, 0, 0, 4, 0};
    in.counts = {4};
    const float seam[] = {0, 0, 0}, open[] = {NAN, NAN, NAN};
    KorrandLine out{};
    korrand_set_traced(inst, 0);
    Dash(inst, in);
    EXPECT_EQ(korrand_result_join_seams(inst, seam, 1, &out), KORRAND_ERROR_PLUGIN);
    korrand_set_traced(inst, 1);
    const Line cut = Dash(inst, in);
    ASSERT_EQ(cut.counts.size(), 5u);
    ASSERT_EQ(korrand_result_join_seams(inst, open, 1, &out), KORRAND_OK);
    EXPECT_EQ(Result(out).counts.size(), 5u);
    ASSERT_EQ(korrand_result_join_seams(inst, seam, 1, &out), KORRAND_OK) << korrand_last_error();
    const Line joined = Result(out);
    ASSERT_EQ(joined.counts.size(), 4u);
    EXPECT_EQ(joined.points.size(), cut.points.size() - 3);
    // One dash passes through the seam, inside it.
    int at = 0, through = 0;
    for (const int32_t c : joined.counts) {
        for (int k = 1; k + 1 < c; ++k)
            through += joined.points[3 * static_cast<size_t>(at + k)] == 0 &&
                       joined.points[3 * static_cast<size_t>(at + k) + 1] == 0;
        at += c;
    }
    EXPECT_EQ(through, 1);
    // A figure eight from its crossing: the dash ending there halfway round stays apart from
    // the one starting there.
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_COUNT").id, 3), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_OFFSET").id, 0), KORRAND_OK);
    in.points = {0, 0, 0, 1, 1, 0, 2, 0, 0, 1, -1, 0, 0, 0, 0, -1, 1, 0, -2, 0, 0, -1, -1, 0};
    in.counts = {8};
    ASSERT_EQ(Dash(inst, in).counts.size(), 3u);
    ASSERT_EQ(korrand_result_join_seams(inst, seam, 1, &out), KORRAND_OK);
    EXPECT_EQ(Result(out).counts.size(), 3u);
    korrand_instance_destroy(inst);
}

// Several line objects in one call are what separate calls give, object after object, each
// with its own settings on top of the instance's, which are left as they were.
TEST_F(Bridge, DashesSeveralLineObjectsWithSettingsOfTheirOwn) {
    KorrandInstance* inst = NewInstance();
    const KorrandParameter count = Param(plugin_, "KORRAND_COUNT");
    const KorrandParameter closed = Param(plugin_, "KORRAND_CLOSED");
    ASSERT_EQ(korrand_set(inst, count.id, 6), KORRAND_OK);
    const Line in = Shape();
    std::vector<float> in32(in.points.begin(), in.points.end());
    std::vector<double> widened(in32.begin(), in32.end());
    const size_t square = 3 * static_cast<size_t>(in.counts[0]);
    // The wave measured open with 9 dashes, then the square as the instance says.
    const Line wave{
        std::vector<double>(widened.begin() + static_cast<std::ptrdiff_t>(square), widened.end()),
        {in.counts[1]}};
    const Line ring{
        std::vector<double>(widened.begin(), widened.begin() + static_cast<std::ptrdiff_t>(square)),
        {in.counts[0]}};
    ASSERT_EQ(korrand_set(inst, closed.id, 0), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, count.id, 9), KORRAND_OK);
    const Line wantWave = Dash(inst, wave);
    ASSERT_EQ(korrand_set(inst, closed.id, 1), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, count.id, 6), KORRAND_OK);
    const Line wantRing = Dash(inst, ring);

    const int32_t segments[] = {1, 0};
    const KorrandLineObject objects[] = {{0, 1, 0, 2}, {1, 1, 2, 0}};
    const int32_t ids[] = {closed.id, count.id};
    const double values[] = {0, 9};
    int32_t dashes[2] = {-1, -1};
    KorrandLine got{};
    ASSERT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, segments, objects, 2,
                                   ids, values, dashes, &got),
              KORRAND_OK)
        << korrand_last_error();
    EXPECT_EQ(got.result, 1);
    EXPECT_EQ(dashes[0], static_cast<int32_t>(wantWave.counts.size()));
    EXPECT_EQ(dashes[1], static_cast<int32_t>(wantRing.counts.size()));
    Line want = wantWave;
    want.points.insert(want.points.end(), wantRing.points.begin(), wantRing.points.end());
    want.counts.insert(want.counts.end(), wantRing.counts.begin(), wantRing.counts.end());
    const Line both = Result(got);
    EXPECT_EQ(both.counts, want.counts);
    EXPECT_EQ(both.points, want.points);
    double v = -1;
    ASSERT_EQ(korrand_get(inst, count.id, &v), KORRAND_OK);
    EXPECT_EQ(v, 6);
    ASSERT_EQ(korrand_get(inst, closed.id, &v), KORRAND_OK);
    EXPECT_EQ(v, 1);
    // The gathered result is what the readers of a result read.
    std::vector<float> xyz(3 * static_cast<size_t>(got.point_count));
    ASSERT_EQ(korrand_result_xyz(inst, xyz.data(), static_cast<int64_t>(xyz.size())), KORRAND_OK);
    EXPECT_EQ(xyz[3], static_cast<float>(want.points[3]));
    EXPECT_NE(korrand_result_xyz(inst, xyz.data(), 0), KORRAND_OK);

    // What the host decides for an object is not held to the editor's limits (a count derived
    // from a dash length), but must be of the parameter's type.
    const double derived[] = {0, count.max + 1};
    ASSERT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, segments, objects, 2,
                                   ids, derived, dashes, &got),
              KORRAND_OK)
        << korrand_last_error();
    EXPECT_EQ(dashes[0], static_cast<int32_t>(count.max + 1));
    // A value not of its type, or a segment that is not there: an error, no result for the
    // readers, and the instance's settings as they were.
    const double fraction[] = {0, 2.5};
    EXPECT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, segments, objects, 2,
                                   ids, fraction, dashes, &got),
              KORRAND_ERROR_VALUE);
    EXPECT_NE(std::string(korrand_last_error()).find("line object 0"), std::string::npos);
    EXPECT_EQ(korrand_result_xyz(inst, xyz.data(), 0), KORRAND_OK);  // nothing left to read
    ASSERT_EQ(korrand_get(inst, count.id, &v), KORRAND_OK);
    EXPECT_EQ(v, 6);
    const int32_t missing[] = {1, 2};
    EXPECT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, missing, objects, 2,
                                   ids, values, dashes, &got),
              KORRAND_ERROR_ARGUMENT);
    korrand_instance_destroy(inst);
}

// The grouping rule as the bridge serves it: the instance's settings say whether the segments
// are related, and the groups go to korrand_dash_objects as they come.
TEST_F(Bridge, GroupsSegmentsByTheRuleEveryHostFollows) {
    KorrandInstance* inst = NewInstance();
    const KorrandParameter closed = Param(plugin_, "KORRAND_CLOSED");
    const KorrandParameter jitter = Param(plugin_, "KORRAND_JITTER");
    const int32_t cyclic[] = {0, 1, 0};
    int32_t segments[3], ids[3], n = -1;
    double values[3];
    KorrandLineObject objects[3];
    ASSERT_EQ(korrand_group_segments(inst, cyclic, 3, 0, segments, objects, ids, values, &n),
              KORRAND_OK);
    ASSERT_EQ(n, 3);  // nothing relates them: one object each, measured as the curve says
    EXPECT_EQ(objects[1].first_segment, 1);
    EXPECT_EQ(objects[1].setting_count, 1);
    EXPECT_EQ(ids[objects[1].first_setting], closed.id);
    EXPECT_EQ(values[objects[1].first_setting], 1.0);
    ASSERT_EQ(korrand_set(inst, jitter.id, 0.5), KORRAND_OK);
    ASSERT_EQ(korrand_group_segments(inst, cyclic, 3, 0, segments, objects, ids, values, &n),
              KORRAND_OK);
    ASSERT_EQ(n, 2);  // jittered: the open ones, then the closed one
    EXPECT_EQ(std::vector<int32_t>(segments, segments + 3), (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(objects[1].first_segment, 2);
    EXPECT_EQ(values[objects[1].first_setting], 1.0);
    ASSERT_EQ(korrand_group_segments(inst, nullptr, 3, 0, segments, objects, nullptr, nullptr, &n),
              KORRAND_OK);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(objects[0].setting_count, 0);
    ASSERT_EQ(korrand_group_segments(inst, nullptr, 3, 1, segments, objects, nullptr, nullptr, &n),
              KORRAND_OK);
    EXPECT_EQ(n, 3);  // counts of their own

    // The square closed and the wave open, each its own object: what dashing each gives.
    const Line in = Shape();
    const std::vector<float> in32(in.points.begin(), in.points.end());
    const int32_t kinds[] = {1, 0};
    ASSERT_EQ(korrand_group_segments(inst, kinds, 2, 0, segments, objects, ids, values, &n),
              KORRAND_OK);
    int32_t dashes[2] = {-1, -1};
    KorrandLine got{};
    ASSERT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), 2, segments, objects, n,
                                   ids, values, dashes, &got),
              KORRAND_OK)
        << korrand_last_error();
    const Line both = Result(got);
    const std::vector<double> widened(in32.begin(), in32.end());
    const auto square = static_cast<std::ptrdiff_t>(3 * in.counts[0]);
    Line want = Dash(inst, {{widened.begin(), widened.begin() + square}, {in.counts[0]}});
    ASSERT_EQ(korrand_set(inst, closed.id, 0), KORRAND_OK);
    const Line wave = Dash(inst, {{widened.begin() + square, widened.end()}, {in.counts[1]}});
    want.points.insert(want.points.end(), wave.points.begin(), wave.points.end());
    want.counts.insert(want.counts.end(), wave.counts.begin(), wave.counts.end());
    EXPECT_EQ(both.counts, want.counts);
    EXPECT_EQ(both.points, want.points);
    korrand_instance_destroy(inst);
}

TEST(BridgeLengths, PeriodCountsAreRoundedAndAtLeastOne) {
    EXPECT_EQ(korrand_period_count(10.0, 4.0), 3);  // 2.5 rounds away from zero
    EXPECT_EQ(korrand_period_count(9.9, 4.0), 2);
    EXPECT_EQ(korrand_period_count(0.1, 4.0), 1);
    EXPECT_EQ(korrand_period_count(0.0, 4.0), 1);
    EXPECT_EQ(korrand_period_count(1.0, 0.0), 1);
    EXPECT_EQ(korrand_period_count(1e300, 1e-300), 2147483647);  // held to a 32-bit count
    EXPECT_EQ(korrand_period_count(1.0, -1.0), 1);
    EXPECT_EQ(korrand_period_count(NAN, 1.0), 1);
    EXPECT_EQ(korrand_period_count(3e4, 1.0), 30000);  // not held to the count option's limit
}

TEST(BridgeLengths, MeasuresSegmentsAfterATransform) {
    const float square[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 5, 5, 5};
    const int32_t counts[] = {4, 1};
    const int32_t closed[] = {1, 1};
    double lengths[2] = {-1, -1};
    ASSERT_EQ(korrand_segment_lengths(square, 3, counts, 2, closed, nullptr, lengths), KORRAND_OK);
    EXPECT_EQ(lengths[0], 4.0);
    EXPECT_EQ(lengths[1], 0.0);  // a lone point has no length
    ASSERT_EQ(korrand_segment_lengths(square, 3, counts, 2, nullptr, nullptr, lengths), KORRAND_OK);
    EXPECT_EQ(lengths[0], 3.0);
    // Stretched along x by 3 and moved: the sides along x count three times.
    const double m[16] = {3, 0, 0, 7, 0, 1, 0, -2, 0, 0, 1, 4, 0, 0, 0, 1};
    ASSERT_EQ(korrand_segment_lengths(square, 3, counts, 2, closed, m, lengths), KORRAND_OK);
    EXPECT_EQ(lengths[0], 8.0);
    EXPECT_EQ(korrand_segment_lengths(square, 2, counts, 2, closed, m, lengths),
              KORRAND_ERROR_ARGUMENT);
}

// A host's own segment records, laid out unlike the bridge's structures: the count after a
// field of the host's, the next pointer last, and points with bytes of the host's after x, y, z, w.
struct HostPoint {
    float xyzw[4];
    float radius;
    int32_t flags;
};
struct HostRecord {
    int32_t own;
    int32_t count;
    HostPoint* points;
    HostRecord* next;
};

TEST_F(Bridge, ReadsAHostsSegmentListOnlyWhenItMatches) {
    const Line want = Rounded(Shape());
    const size_t n = want.counts.size();
    std::vector<std::vector<HostPoint>> points(n);
    std::vector<HostRecord> records(n);
    size_t at = 0;
    for (size_t i = 0; i < n; ++i) {
        for (int32_t k = 0; k < want.counts[i]; ++k, ++at)
            points[i].push_back(HostPoint{{static_cast<float>(want.points[3 * at]),
                                           static_cast<float>(want.points[3 * at + 1]),
                                           static_cast<float>(want.points[3 * at + 2]), 1.0f},
                                          0.5f,
                                          7});
        records[i] =
            HostRecord{42, want.counts[i], points[i].data(), i + 1 < n ? &records[i + 1] : nullptr};
    }
    const KorrandSegmentList layout{offsetof(HostRecord, next), offsetof(HostRecord, count),
                                    offsetof(HostRecord, points), sizeof(HostPoint)};

    // The same floats, and whether anything moved since the last read.
    std::vector<float> back(3 * at, -1.0f);
    int32_t changed = -1;
    const auto read = [&](const int32_t* expect, int32_t records_expected, int64_t room) {
        return korrand_points_from_list(&layout, records.data(), expect, records_expected,
                                        back.data(), room, &changed);
    };
    const auto segments = static_cast<int32_t>(n);
    std::vector<int32_t> counts = want.counts;
    ASSERT_EQ(read(counts.data(), segments, static_cast<int64_t>(back.size())), KORRAND_OK);
    EXPECT_EQ(changed, 1);
    for (size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i], static_cast<float>(want.points[i]));
    ASSERT_EQ(read(counts.data(), segments, static_cast<int64_t>(back.size())), KORRAND_OK);
    EXPECT_EQ(changed, 0) << "nothing moved";
    float& z = points[n - 1].back().xyzw[2];
    z = std::nextafter(z, 1e9f);
    ASSERT_EQ(read(counts.data(), segments, static_cast<int64_t>(back.size())), KORRAND_OK);
    EXPECT_EQ(changed, 1) << "the last point moved";
    EXPECT_EQ(back.back(), z);
    // Lists that do not match are refused whole: a count, a missing record, too little room.
    const std::vector<float> kept = back;
    counts[0] += 1;
    EXPECT_EQ(read(counts.data(), segments, static_cast<int64_t>(back.size()) + 3),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_NE(std::string(korrand_last_error()).find("record"), std::string::npos);
    counts[0] -= 1;
    EXPECT_EQ(read(counts.data(), segments - 1, static_cast<int64_t>(back.size())),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(read(counts.data(), segments, static_cast<int64_t>(back.size()) - 1),
              KORRAND_ERROR_ARGUMENT);
    KorrandSegmentList narrow = layout;
    narrow.point_size = 12;
    EXPECT_EQ(korrand_points_from_list(&narrow, records.data(), counts.data(), segments,
                                       back.data(), static_cast<int64_t>(back.size()), &changed),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(back, kept) << "a refused read copied points";
}

TEST_F(Bridge, ButtonOpensTheWebPageThroughTheHost) {
    KorrandInstance* inst = NewInstance();
    const char* opened = nullptr;
    ASSERT_EQ(korrand_command(inst, Param(plugin_, "KORRAND_WEBLINK").id, &opened), KORRAND_OK);
    EXPECT_EQ(std::string(opened).rfind("http", 0), 0u) << opened;
    EXPECT_EQ(std::string(opened).find('\n'), std::string::npos);
    ASSERT_EQ(korrand_command(inst, Param(plugin_, "KORRAND_COUNT").id, &opened), KORRAND_OK);
    EXPECT_STREQ(opened, "");
    korrand_instance_destroy(inst);
}

// The radius and normal of each point, from the rings of a round profile swept along a curve:
// one ring per point, matched by position where a cyclic spline's rings start elsewhere or run
// the other way (such a spline is reported, for its dashes to be swept that way too).
TEST(BridgeRings, ChannelsComeFromTheRingAtEachPoint) {
    const std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 2, 0, 0, 5, 5, 0,
                                    6, 5, 0, 0, 9, 0, 1, 9, 0, 1, 8, 0};
    const auto ring = [](const float* p, float radius, float normal) {
        // Binormal side, then around to the normal side last; centred on the point.
        return std::vector<float>{p[0], p[1] + radius, p[2], p[0], p[1], p[2] - normal,
                                  p[0], p[1] - radius, p[2], p[0], p[1], p[2] + normal};
    };
    std::vector<float> rings;
    // The second spline's rings start at its end, the third's run backwards.
    for (const int point : {0, 1, 2, 4, 3, 5, 7, 6}) {
        const std::vector<float> r = ring(&xyz[3 * point], 0.5f + static_cast<float>(point), 2);
        rings.insert(rings.end(), r.begin(), r.end());
    }
    const int32_t counts[] = {3, 2, 3};
    std::vector<float> out(32);
    int32_t matched = -1;
    int32_t reversed[3] = {-1, -1, -1};
    ASSERT_EQ(korrand_ring_channels(rings.data(), xyz.data(), 8, counts, 3, out.data(), reversed,
                                    &matched),
              KORRAND_OK);
    EXPECT_EQ(matched, 1);
    EXPECT_EQ(std::vector<int32_t>(reversed, reversed + 3), (std::vector<int32_t>{0, 0, 1}));
    for (int point = 0; point < 8; ++point) {
        EXPECT_FLOAT_EQ(out[4 * point], 0.5f + static_cast<float>(point)) << point;
        EXPECT_EQ(out[4 * point + 3], 1.0f) << point;  // unit, along z, as the ring has it
    }
    rings[12 * 3] += 1;  // the second spline's rings meet none of its points
    rings[12 * 3 + 3] += 1;
    rings[12 * 4] += 1;
    rings[12 * 4 + 3] += 1;
    ASSERT_EQ(korrand_ring_channels(rings.data(), xyz.data(), 8, counts, 3, out.data(), nullptr,
                                    &matched),
              KORRAND_OK);
    EXPECT_EQ(matched, 0);
    EXPECT_EQ(korrand_ring_channels(rings.data(), xyz.data(), 7, counts, 3, out.data(), reversed,
                                    &matched),
              KORRAND_ERROR_ARGUMENT);
}

TEST_F(Bridge, RefusesBadCallsWithAMessage) {
    KorrandInstance* inst = NewInstance();
    const KorrandParameter count = Param(plugin_, "KORRAND_COUNT");
    const KorrandParameter relative = Param(plugin_, "KORRAND_RELATIVE");
    EXPECT_EQ(korrand_set(inst, count.id, count.max + 1), KORRAND_ERROR_VALUE);
    EXPECT_NE(std::string(korrand_last_error()).find("count must be between"), std::string::npos)
        << korrand_last_error();
    EXPECT_EQ(korrand_set(inst, count.id, 2.5), KORRAND_ERROR_VALUE);
    EXPECT_EQ(korrand_set(inst, count.id, NAN), KORRAND_ERROR_VALUE);
    EXPECT_EQ(korrand_set(inst, relative.id, 2), KORRAND_ERROR_VALUE);
    EXPECT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_WEBLINK").id, 1), KORRAND_ERROR_VALUE);
    EXPECT_EQ(korrand_set(inst, 4242, 1), KORRAND_ERROR_VALUE);
    double v = 0;
    EXPECT_EQ(korrand_get(inst, count.id, &v), KORRAND_OK);
    EXPECT_EQ(v, count.default_value) << "a refused value must not be stored";
    EXPECT_STREQ(korrand_last_error(), "");

    const float pts[] = {0, 0, 0, 1, 0, 0, 1, 1, 0};
    const int32_t three[] = {3};
    const int32_t negative[] = {4, -1};
    const int32_t first[] = {0, 1};
    const KorrandLineObject object{0, 1, 0, 0};
    int32_t dashes = 0;
    KorrandLine out{};
    EXPECT_EQ(korrand_dash_objects(inst, pts, 3, negative, 2, first, &object, 1, nullptr, nullptr,
                                   &dashes, &out),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_dash_objects(inst, nullptr, 3, three, 1, first, &object, 1, nullptr, nullptr,
                                   &dashes, &out),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_dash_objects(nullptr, pts, 3, three, 1, first, &object, 1, nullptr, nullptr,
                                   &dashes, &out),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_dash_objects(inst, pts, 2, three, 1, first, &object, 1, nullptr, nullptr,
                                   &dashes, &out),
              KORRAND_ERROR_ARGUMENT)
        << "a point stride below 3";
    // A result not dashed by the bridge's sampling host tells no sources.
    EXPECT_EQ(korrand_result_sources(inst, nullptr, nullptr, nullptr, 0), KORRAND_OK);
    EXPECT_EQ(korrand_parameter(plugin_, korrand_parameter_count(plugin_), nullptr),
              KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_instance_create(nullptr, nullptr), KORRAND_ERROR_ARGUMENT);

    // A runaway request meets the host's memory limit: an empty result, not an exhausted host.
    ASSERT_EQ(korrand_set(inst, count.id, count.max), KORRAND_OK);
    ASSERT_EQ(korrand_set(inst, Param(plugin_, "KORRAND_SUBDIVISION").id, 98), KORRAND_OK);
    korrand_set_block_limit(1 << 16);
    EXPECT_EQ(DashAll(inst, Shape()).points.size(), 0u);
    korrand_set_block_limit(int64_t{1} << 30);
    korrand_instance_destroy(inst);
}

TEST(BridgeOpen, ReportsAMissingOrEmptyFolder) {
    const Alive before = Alive::Now();
    KorrandPlugin* p = reinterpret_cast<KorrandPlugin*>(&p);
    EXPECT_EQ(korrand_open("/nonexistent/KorrandModifier", &p), KORRAND_ERROR_PLUGIN);
    EXPECT_EQ(p, nullptr);
    const std::string message = korrand_last_error();
    EXPECT_NE(message.find("/nonexistent/KorrandModifier"), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_EQ(korrand_open("", &p), KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_open(nullptr, &p), KORRAND_ERROR_ARGUMENT);
    EXPECT_EQ(korrand_open(kFolder.c_str(), nullptr), KORRAND_ERROR_ARGUMENT);
    korrand_close(nullptr);
    EXPECT_EQ(Alive::Now().blocks, before.blocks);
    EXPECT_EQ(Alive::Now().objects, before.objects);
}

TEST(BridgeOpen, CloseDestroysInstancesLeftOpen) {
    const Alive before = Alive::Now();
    KorrandPlugin* p = nullptr;
    ASSERT_EQ(korrand_open(kFolder.c_str(), &p), KORRAND_OK);
    KorrandInstance* a = nullptr;
    KorrandInstance* b = nullptr;
    ASSERT_EQ(korrand_instance_create(p, &a), KORRAND_OK);
    ASSERT_EQ(korrand_instance_create(p, &b), KORRAND_OK);
    DashAll(a, Shape());
    EXPECT_GT(Alive::Now().objects, before.objects);
    korrand_close(p);
    EXPECT_EQ(Alive::Now().blocks, before.blocks);
    EXPECT_EQ(Alive::Now().objects, before.objects);
}

// A call large enough to be dashed on several threads gives, object by object, the bits that
// calls of one object give; a failure names the lowest failing object; untraced, the sources of
// its points are not known.
TEST(BridgeConcurrency, ALargeCallOnThreadsMatchesCallsOfOneObject) {
    KorrandPlugin* p = nullptr;
    ASSERT_EQ(korrand_open(kFolder.c_str(), &p), KORRAND_OK) << korrand_last_error();
    KorrandInstance* inst = nullptr;
    ASSERT_EQ(korrand_instance_create(p, &inst), KORRAND_OK);
    const int32_t count = Param(p, "KORRAND_COUNT").id;
    constexpr int32_t kSegments = 200, kPoints = 600;  // 120,000 points: on threads
    Line in;
    for (int32_t s = 0; s < kSegments; ++s) {
        for (int32_t i = 0; i < kPoints; ++i) {
            const double x = 0.01 * i;
            in.points.insert(in.points.end(), {x, std::sin(x + s), 0.001 * s});
        }
        in.counts.push_back(kPoints);
    }
    const std::vector<float> in32(in.points.begin(), in.points.end());
    std::vector<int32_t> segments(kSegments);
    std::vector<KorrandLineObject> objects(kSegments);
    std::vector<int32_t> ids(kSegments, count);
    std::vector<double> values(kSegments);
    for (int32_t k = 0; k < kSegments; ++k) {
        segments[static_cast<size_t>(k)] = kSegments - 1 - k;
        objects[static_cast<size_t>(k)] = {k, 1, k, 1};
        values[static_cast<size_t>(k)] = 3 + k % 7;
    }
    std::vector<int32_t> dashes(kSegments);
    const auto dashAll = [&](const std::vector<int32_t>& settingIds) {
        KorrandLine out{};
        const int32_t status = korrand_dash_objects(
            inst, in32.data(), 3, in.counts.data(), kSegments, segments.data(), objects.data(),
            kSegments, settingIds.data(), values.data(), dashes.data(), &out);
        return status == KORRAND_OK ? Result(out) : Line{};
    };
    korrand_set_traced(inst, 0);
    const Line all = dashAll(ids);
    Line want;
    for (int32_t k = 0; k < kSegments; ++k) {
        KorrandLine one{};
        int32_t n = 0;
        ASSERT_EQ(korrand_dash_objects(inst, in32.data(), 3, in.counts.data(), kSegments,
                                       &segments[static_cast<size_t>(k)], &objects[0], 1,
                                       &ids[static_cast<size_t>(k)],
                                       &values[static_cast<size_t>(k)], &n, &one),
                  KORRAND_OK);
        const Line part = Result(one);
        want.points.insert(want.points.end(), part.points.begin(), part.points.end());
        want.counts.insert(want.counts.end(), part.counts.begin(), part.counts.end());
    }
    ASSERT_GT(all.counts.size(), static_cast<size_t>(kSegments)) << korrand_last_error();
    EXPECT_EQ(all.counts, want.counts);
    EXPECT_TRUE(all.points == want.points);
    EXPECT_EQ(korrand_result_sources(inst, nullptr, nullptr, nullptr, 0), KORRAND_ERROR_PLUGIN);

    std::vector<int32_t> bad = ids;
    bad[150] = bad[40] = -5;
    EXPECT_TRUE(dashAll(bad).counts.empty());
    EXPECT_NE(std::string(korrand_last_error()).find("line object 40:"), std::string::npos)
        << korrand_last_error();
    korrand_close(p);
}

// Instances of one plug-in dashing on several threads at once give what each gives alone.
TEST(BridgeConcurrency, InstancesOnThreadsMatchTheSerialResults) {
    KorrandPlugin* p = nullptr;
    ASSERT_EQ(korrand_open(kFolder.c_str(), &p), KORRAND_OK) << korrand_last_error();
    const KorrandParameter count = Param(p, "KORRAND_COUNT");
    const KorrandParameter jitter = Param(p, "KORRAND_JITTER");
    const KorrandParameter seed = Param(p, "KORRAND_SEED");
    const int32_t weblink = Param(p, "KORRAND_WEBLINK").id;
    constexpr int kThreads = 4;
    const Line in = Shape();
    std::vector<KorrandInstance*> insts(kThreads, nullptr);
    std::vector<Line> serial(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(korrand_instance_create(p, &insts[i]), KORRAND_OK);
        ASSERT_EQ(korrand_set(insts[i], count.id, 5 + 7 * i), KORRAND_OK);
        ASSERT_EQ(korrand_set(insts[i], jitter.id, 0.25 * i), KORRAND_OK);
        ASSERT_EQ(korrand_set(insts[i], seed.id, 11 * i), KORRAND_OK);
        serial[i] = DashAll(insts[i], in);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const std::vector<float> in32(in.points.begin(), in.points.end());
            const int32_t both[] = {0, 1};
            const KorrandLineObject object{0, 2, 0, 0};
            for (int round = 0; round < 20; ++round) {
                KorrandLine out{};
                int32_t dashes = 0;
                if (korrand_dash_objects(insts[i], in32.data(), 3, in.counts.data(), 2, both,
                                         &object, 1, nullptr, nullptr, &dashes,
                                         &out) != KORRAND_OK) {
                    ++mismatches[i];
                    continue;
                }
                const Line got = Result(out);
                if (got.points != serial[i].points || got.counts != serial[i].counts)
                    ++mismatches[i];
                const char* opened = nullptr;
                if (round % 5 == 0 && korrand_command(insts[i], weblink, &opened) == KORRAND_OK &&
                    std::strchr(opened, '\n') != nullptr)
                    ++mismatches[i];  // another thread's address leaked into this one's
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(mismatches[i], 0) << "thread " << i;
    for (KorrandInstance* inst : insts) korrand_instance_destroy(inst);
    korrand_close(p);
}

}  // namespace
