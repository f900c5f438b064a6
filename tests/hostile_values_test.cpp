// Parameter values a scene file or another plug-in could store in the modifier's container, at
// every extreme of each type, under the wrong type, or absent, applied through the loaded plug-in
// to a closed square, an open polyline, a zero-length segment and an empty object. Each row names
// the one output it must give.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host_model.h"
#include "test_support.h"

namespace {

// Short names for the rows below; 1007 is an id the plug-in never uses.
enum : int32_t {
    COUNT = KORRAND_COUNT,
    RELATIVE = KORRAND_RELATIVE,
    SUBDIVISION = KORRAND_SUBDIVISION,
    OFFSET = KORRAND_OFFSET,
    CLOSED = KORRAND_CLOSED,
    START = KORRAND_START,
    END = KORRAND_END,
    UNUSED_1007 = 1007,
    SEED = KORRAND_SEED,
    JITTER = KORRAND_JITTER,
    RESERVED = KORRAND_RESERVED_1011
};

// One stored entry: 'L' long, 'B' bool, 'R' real, '-' removed.
struct Stored {
    int32_t id;
    char type;
    double value;
};
using Entries = std::vector<Stored>;

Stored Long(int32_t id, int64_t v) {
    return {id, 'L', static_cast<double>(v)};
}
Stored Bool(int32_t id, int64_t v) {
    return {id, 'B', static_cast<double>(v)};
}
Stored Real(int32_t id, double v) {
    return {id, 'R', v};
}
Stored Absent(int32_t id) {
    return {id, '-', 0.0};
}

const double kNaN = std::nan("");
const double kInf = INFINITY;
const double kDenormal = DBL_TRUE_MIN;

struct Shape {
    const char* name;
    std::vector<HostVector> points;
    std::vector<int32_t> counts;
    bool dashable;  // has a segment of positive length
};

const std::vector<Shape> kShapes = {
    {"closed square", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {4}, true},
    {"open polyline",
     {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {10, 10, 0}, {12, 10, 0}, {12, 14, 0}},
     {3, 3},
     true},
    {"zero-length segment", {{5, 5, 5}, {5, 5, 5}}, {2}, false},
    {"empty object", {}, {}, false},
};

struct Output {
    bool ok = false;
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    int64_t updates = 0;
};

bool SameBits(const Output& a, const Output& b) {
    return a.ok == b.ok && a.updates == b.updates && a.points.size() == b.points.size() &&
           a.segments.size() == b.segments.size() &&
           (a.points.empty() || std::memcmp(a.points.data(), b.points.data(),
                                            a.points.size() * sizeof(HostVector)) == 0) &&
           (a.segments.empty() || std::memcmp(a.segments.data(), b.segments.data(),
                                              a.segments.size() * sizeof(HostSegment)) == 0);
}

double Distance(const HostVector& a, const HostVector& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

// What a row promises.
enum class Expect {
    SameAs,       // bit for bit what the reference entries give
    CloseTo,      // the reference's dashes, each point within 1e-12
    NoDashes,     // nothing laid out: 0 points, 0 records, result true, object updated
    Emptied,      // empty range: 0 points, result true, no update
    SamplesEach,  // every dash has exactly `samples` points
    // Divisions only at 0 and 1: where the sorted parameters switch from 0 to 1 at a dash, that
    // segment gets one dash from 0 to 1. Its last sample lands exactly on the wrap and so reads
    // as the start again: a zero-length 2-point piece at u = 1, then 100 samples from u = 0 round
    // to u = 0 (closed measuring: both at the segment's first point). Nothing else.
    OneDashPerSegment,
    Valid,  // dashes on the input, finite, repeatable, and not the reference's
};

struct Row {
    const char* what;
    Entries stored;
    Expect expect;
    Entries reference = {};
    int32_t samples = 0;
};

// Defaults (count 100, subdivision 1, closed) unless a row says otherwise.
const std::vector<Row> kRows = {
    // ---- count (long)
    {"count INT32_MAX: 2 * count saturates; the host refuses the arrays -> no dashes",
     {Long(COUNT, INT32_MAX)},
     Expect::NoDashes},
    {"count 2^30: same as INT32_MAX", {Long(COUNT, 1 << 30)}, Expect::NoDashes},
    {"count INT32_MIN: below one division -> no dashes",
     {Long(COUNT, INT32_MIN)},
     Expect::NoDashes},
    {"count -1 -> no dashes", {Long(COUNT, -1)}, Expect::NoDashes},
    {"count 0 -> no dashes", {Long(COUNT, 0)}, Expect::NoDashes},
    {"count absent: reads 0 -> no dashes", {Absent(COUNT)}, Expect::NoDashes},
    {"count stored as real NaN: converts to 0 -> no dashes", {Real(COUNT, kNaN)}, Expect::NoDashes},
    {"count stored as real 1e300: converts to INT32_MAX -> no dashes",
     {Real(COUNT, 1e300)},
     Expect::NoDashes},
    {"count stored as real -inf: converts to INT32_MIN -> no dashes",
     {Real(COUNT, -kInf)},
     Expect::NoDashes},
    {"count stored as real 12.9: truncates -> same as 12",
     {Real(COUNT, 12.9)},
     Expect::SameAs,
     {Long(COUNT, 12)}},
    {"count stored as bool: same as 1", {Bool(COUNT, 1)}, Expect::SameAs, {Long(COUNT, 1)}},
    // ---- relative (bool)
    {"relative stored as long 2: true", {Long(RELATIVE, 2)}, Expect::SameAs, {Bool(RELATIVE, 1)}},
    {"relative stored as long -1: true", {Long(RELATIVE, -1)}, Expect::SameAs, {Bool(RELATIVE, 1)}},
    {"relative stored as long INT32_MIN: true",
     {Long(RELATIVE, INT32_MIN)},
     Expect::SameAs,
     {Bool(RELATIVE, 1)}},
    {"relative stored as real NaN: not zero, true",
     {Real(RELATIVE, kNaN)},
     Expect::SameAs,
     {Bool(RELATIVE, 1)}},
    {"relative stored as real -0.0: false",
     {Real(RELATIVE, -0.0)},
     Expect::SameAs,
     {Bool(RELATIVE, 0)}},
    {"relative absent: false", {Absent(RELATIVE)}, Expect::SameAs, {Bool(RELATIVE, 0)}},
    // ---- subdivision (long)
    {"subdivision INT32_MAX: subdivision + 2 saturates -> 100 samples per dash",
     {Long(SUBDIVISION, INT32_MAX)},
     Expect::SamplesEach,
     {},
     100},
    {"subdivision 1000: 100 samples per dash",
     {Long(SUBDIVISION, 1000)},
     Expect::SamplesEach,
     {},
     100},
    {"subdivision INT32_MIN: 2 samples per dash",
     {Long(SUBDIVISION, INT32_MIN)},
     Expect::SamplesEach,
     {},
     2},
    {"subdivision -1: 2 samples per dash", {Long(SUBDIVISION, -1)}, Expect::SamplesEach, {}, 2},
    {"subdivision stored as real NaN: 0",
     {Real(SUBDIVISION, kNaN)},
     Expect::SameAs,
     {Long(SUBDIVISION, 0)}},
    {"subdivision absent: 0", {Absent(SUBDIVISION)}, Expect::SameAs, {Long(SUBDIVISION, 0)}},
    // ---- offset (real)
    {"offset NaN: same as 0", {Real(OFFSET, kNaN)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset +inf: no phase, same as 0", {Real(OFFSET, kInf)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset -inf: same as 0", {Real(OFFSET, -kInf)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset DBL_MAX: a whole number, same as 0",
     {Real(OFFSET, DBL_MAX)},
     Expect::SameAs,
     {Real(OFFSET, 0)}},
    {"offset -DBL_MAX: same as 0", {Real(OFFSET, -DBL_MAX)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset 2^53: a whole number, same as 0",
     {Real(OFFSET, 9007199254740992.0)},
     Expect::SameAs,
     {Real(OFFSET, 0)}},
    {"offset 2^40 + 0.25: past 32 bits only the fraction is kept -> same as 0.25",
     {Real(OFFSET, 1099511627776.25)},
     Expect::SameAs,
     {Real(OFFSET, 0.25)}},
    {"offset -(2^33 + 0.5): same as -0.5",
     {Real(OFFSET, -8589934592.5)},
     Expect::SameAs,
     {Real(OFFSET, -0.5)}},
    {"offset -0.0: same as 0", {Real(OFFSET, -0.0)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset denormal: within rounding of 0",
     {Real(OFFSET, kDenormal)},
     Expect::CloseTo,
     {Real(OFFSET, 0)}},
    {"offset absent: 0", {Absent(OFFSET)}, Expect::SameAs, {Real(OFFSET, 0)}},
    {"offset stored as long 1: real 1.0, same as offset 1.0",
     {Long(OFFSET, 1)},
     Expect::SameAs,
     {Real(OFFSET, 1.0)}},
    // ---- closed (bool)
    {"closed stored as long 2: true", {Long(CLOSED, 2)}, Expect::SameAs, {Bool(CLOSED, 1)}},
    {"closed stored as long -1: true", {Long(CLOSED, -1)}, Expect::SameAs, {Bool(CLOSED, 1)}},
    {"closed stored as real NaN: true", {Real(CLOSED, kNaN)}, Expect::SameAs, {Bool(CLOSED, 1)}},
    {"closed absent: false (open)", {Absent(CLOSED)}, Expect::SameAs, {Bool(CLOSED, 0)}},
    // ---- start / end (real)
    // A NaN bound clamps nothing; the division parameters lie in [0, 1) already.
    {"start NaN: same as start 0", {Real(START, kNaN)}, Expect::SameAs, {Real(START, 0)}},
    {"end NaN: same as end 1", {Real(END, kNaN)}, Expect::SameAs, {Real(END, 1)}},
    {"start -inf, end +inf: clamped to 0..1",
     {Real(START, -kInf), Real(END, kInf)},
     Expect::SameAs,
     {Real(START, 0), Real(END, 1)}},
    {"start -DBL_MAX, end DBL_MAX: clamped to 0..1",
     {Real(START, -DBL_MAX), Real(END, DBL_MAX)},
     Expect::SameAs,
     {Real(START, 0), Real(END, 1)}},
    {"start 1, end 0: swapped", {Real(START, 1), Real(END, 0)}, Expect::SameAs, {}},
    {"start -0.0: same as 0", {Real(START, -0.0)}, Expect::SameAs, {Real(START, 0)}},
    {"start DBL_MAX: clamps to 1 = end -> empty range", {Real(START, DBL_MAX)}, Expect::Emptied},
    {"start +inf, end NaN: 1..NaN is not empty, every dash clamps up to 1",
     {Real(START, kInf), Real(END, kNaN)},
     Expect::NoDashes},
    {"start = end = denormal: empty range",
     {Real(START, kDenormal), Real(END, kDenormal)},
     Expect::Emptied},
    {"end absent: reads 0 -> empty range", {Absent(END)}, Expect::Emptied},
    {"start and end absent: 0..0 -> empty range", {Absent(START), Absent(END)}, Expect::Emptied},
    {"end stored as long 1: real 1.0", {Long(END, 1)}, Expect::SameAs, {}},
    {"end stored as bool 1: 1.0", {Bool(END, 1)}, Expect::SameAs, {}},
    // ---- seed (long) and jitter (real)
    {"seed INT32_MIN with jitter: bit 31 never reaches the sequence -> same as seed 0",
     {Long(SEED, INT32_MIN), Real(JITTER, 0.5)},
     Expect::SameAs,
     {Long(SEED, 0), Real(JITTER, 0.5)}},
    {"seed INT32_MAX with jitter: a valid pattern of its own",
     {Long(SEED, INT32_MAX), Real(JITTER, 0.5)},
     Expect::Valid,
     {Real(JITTER, 0.5)}},
    {"seed stored as real NaN: 0",
     {Real(SEED, kNaN), Real(JITTER, 0.5)},
     Expect::SameAs,
     {Long(SEED, 0), Real(JITTER, 0.5)}},
    {"seed without jitter: unused", {Long(SEED, INT32_MIN)}, Expect::SameAs, {}},
    {"jitter NaN: no jitter", {Real(JITTER, kNaN)}, Expect::SameAs, {Real(JITTER, 0)}},
    {"jitter -inf: no jitter", {Real(JITTER, -kInf)}, Expect::SameAs, {Real(JITTER, 0)}},
    {"jitter -1: no jitter", {Real(JITTER, -1)}, Expect::SameAs, {Real(JITTER, 0)}},
    {"jitter -0.0: no jitter", {Real(JITTER, -0.0)}, Expect::SameAs, {Real(JITTER, 0)}},
    {"jitter +inf: every division pushed to +-inf and clamped to 0 or 1 -> at most one dash per "
     "segment, 0 to 1 (see OneDashPerSegment)",
     {Real(JITTER, kInf)},
     Expect::OneDashPerSegment},
    {"jitter DBL_MAX: same as +inf", {Real(JITTER, DBL_MAX)}, Expect::SameAs, {Real(JITTER, kInf)}},
    {"jitter denormal: displacements round away, within rounding of no jitter",
     {Real(JITTER, kDenormal)},
     Expect::CloseTo,
     {Real(JITTER, 0)}},
    {"jitter stored as long 1: real 1.0", {Long(JITTER, 1)}, Expect::SameAs, {Real(JITTER, 1.0)}},
    // ---- ids nobody reads
    {"reserved 1011 NaN: unused", {Real(RESERVED, kNaN)}, Expect::SameAs, {}},
    {"unused 1007 holding a long: unused", {Long(UNUSED_1007, INT32_MIN)}, Expect::SameAs, {}},
    {"every parameter absent: count 0 and end 0 -> empty range",
     {Absent(COUNT), Absent(RELATIVE), Absent(SUBDIVISION), Absent(OFFSET), Absent(CLOSED),
      Absent(START), Absent(END), Absent(SEED), Absent(JITTER), Absent(RESERVED)},
     Expect::Emptied},
};

class HostileValues : public LoadedPluginTest {
protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        // A host that refuses single blocks over 64 MiB, as a real one refuses 16 GiB.
        hostmodel::SetMaxBlockSize(int64_t(64) << 20);
    }

    Output Run(const Entries& entries, const Shape& shape) {
        auto inst = plugin_->Create(ID_KORRAND);
        EXPECT_TRUE(inst);
        if (!inst) return {};
        const HostFunctionTable* t = hostmodel::Table();
        HostContainer* bc = hostmodel::Container(inst->node);
        for (const Stored& s : entries) {
            switch (s.type) {
                case 'L':
                    t->container.SetLong(bc, s.id, static_cast<int32_t>(s.value));
                    break;
                case 'B':
                    t->container.SetBool(bc, s.id, static_cast<int32_t>(s.value));
                    break;
                case 'R':
                    t->container.SetReal(bc, s.id, s.value);
                    break;
                default:
                    hostmodel::Erase(bc, s.id);
                    break;
            }
        }
        HostAtom* op = hostmodel::NewLineObject(shape.points, shape.counts);
        Output out;
        out.ok = plugin_->Modify(*inst, op);
        out.points = hostmodel::Points(op);
        out.segments = hostmodel::Segments(op);
        out.updates = hostmodel::UpdateCount(op);
        hostmodel::FreeObject(op);
        plugin_->Destroy(*inst);
        return out;
    }
};

TEST_F(HostileValues, EveryRowGivesItsDocumentedOutput) {
    int checked = 0, dashesOverWholeRange = 0;
    for (const Row& row : kRows) {
        for (const Shape& shape : kShapes) {
            SCOPED_TRACE(std::string(row.what) + " / " + shape.name);
            const Output out = Run(row.stored, shape);
            // Whatever the row, the output is a consistent object, and repeatable.
            int64_t sum = 0;
            for (const HostSegment& s : out.segments) sum += s.cnt;
            ASSERT_EQ(sum, static_cast<int64_t>(out.points.size()));
            for (const HostVector& p : out.points)
                ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
            ASSERT_TRUE(SameBits(out, Run(row.stored, shape)));
            ++checked;

            if (row.expect == Expect::Emptied) {
                EXPECT_TRUE(out.ok);
                EXPECT_TRUE(out.points.empty());
                EXPECT_TRUE(out.segments.empty());
                EXPECT_EQ(out.updates, 0);
                continue;
            }
            EXPECT_TRUE(out.ok);
            EXPECT_EQ(out.updates, 1);
            if (!shape.dashable) {
                // Nothing of positive length: no row can make dashes out of it.
                EXPECT_TRUE(out.points.empty());
                EXPECT_TRUE(out.segments.empty());
                continue;
            }
            switch (row.expect) {
                case Expect::SameAs:
                    EXPECT_TRUE(SameBits(out, Run(row.reference, shape)));
                    break;
                case Expect::CloseTo: {
                    const Output ref = Run(row.reference, shape);
                    ASSERT_EQ(out.segments.size(), ref.segments.size());
                    ASSERT_EQ(out.points.size(), ref.points.size());
                    for (size_t i = 0; i < out.segments.size(); ++i)
                        EXPECT_EQ(out.segments[i].cnt, ref.segments[i].cnt);
                    for (size_t i = 0; i < out.points.size(); ++i)
                        EXPECT_LE(Distance(out.points[i], ref.points[i]), 1e-12) << i;
                    break;
                }
                case Expect::NoDashes:
                    EXPECT_TRUE(out.points.empty());
                    EXPECT_TRUE(out.segments.empty());
                    break;
                case Expect::SamplesEach:
                    ASSERT_FALSE(out.segments.empty());
                    for (const HostSegment& s : out.segments) EXPECT_EQ(s.cnt, row.samples);
                    break;
                case Expect::OneDashPerSegment: {
                    ASSERT_EQ(out.segments.size() % 2, 0u);
                    std::vector<HostVector> firsts;
                    size_t first = 0;
                    for (int32_t c : shape.counts) {
                        firsts.push_back(shape.points[first]);
                        first += static_cast<size_t>(c);
                    }
                    size_t at = 0, seg = 0;
                    for (size_t i = 0; i < out.segments.size(); i += 2) {
                        // The segment this dash starts on, later than the previous dash's.
                        while (seg < firsts.size() && Distance(out.points[at], firsts[seg]) != 0.0)
                            ++seg;
                        ASSERT_LT(seg, firsts.size());
                        EXPECT_EQ(out.segments[i].cnt, 2);
                        EXPECT_EQ(Distance(out.points[at + 1], firsts[seg]), 0.0);
                        at += 2;
                        EXPECT_EQ(out.segments[i + 1].cnt, 100);
                        EXPECT_EQ(Distance(out.points[at], firsts[seg]), 0.0);
                        EXPECT_EQ(Distance(out.points[at + 99], firsts[seg]), 0.0);
                        at += 100;
                        ++seg;
                    }
                    ++dashesOverWholeRange;
                    break;
                }
                case Expect::Valid:
                    ASSERT_FALSE(out.points.empty());
                    EXPECT_FALSE(SameBits(out, Run(row.reference, shape)));
                    break;
                case Expect::Emptied:
                    break;
            }
        }
    }
    EXPECT_EQ(checked, static_cast<int>(kRows.size() * kShapes.size()));
    EXPECT_GT(dashesOverWholeRange, 0);
    std::printf("%zu hostile rows x %zu inputs checked\n", kRows.size(), kShapes.size());
}

}  // namespace
