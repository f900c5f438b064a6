// The dash pattern: where the dashes of one segment lie, as pieces of uniform parameters.
//
// Knows nothing of the host: the caller supplies the arrays (anything with SetEmpty, Append,
// GetCount and GetData), the generator, the sort and the sink that turns each piece into points.
// The plug-in, the benchmark floor and the fuzz target all lay dashes out through this file.
//
// The floating-point operations below are part of the output: each product and sum is formed in
// the order written, and the build never contracts them into fused operations.
#ifndef KORRAND_DASH_PATTERN_H
#define KORRAND_DASH_PATTERN_H

#include <math.h>
#include <stdint.h>

#include "platform.h"

namespace dash {

// One pass's view of the parameters; start and end normalised by NormaliseRange. A snapshot
// made without values holds the defaults a new modifier object writes.
struct DashSettings {
    double offset = 0.0;
    bool closed = true;
    int32_t count = 100;
    int32_t seed = 100;
    double jitter = 0.0;
    int32_t subdivision = 1;
    bool relative = false;
    double start = 0.0;
    double end = 1.0;
};

// A jitter of 1 moves a division parameter by at most a tenth of the segment.
constexpr double kJitterScale = 0.1;
// Start and end closer than this leave nothing to dash.
constexpr double kEmptyRangeWidth = 0.001;
// Every dash gets at least its two ends, and never more than this many points.
constexpr int32_t kMinSamples = 2;
constexpr int32_t kMaxSamples = 100;
// Offsets of this magnitude and more keep only their fraction: adding them whole to a division
// parameter would round the phase away (from 2^52 on every dash collapses onto a whole number).
constexpr double kOffsetPhaseLimit = 4294967296.0;  // 2^32

// a + b, held inside the 32-bit range instead of wrapping.
inline int32_t SaturatingAdd(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(b);
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

// Truncation toward zero of a non-negative quantity that is at most limit; NaN counts as 0.
inline int32_t TruncateCount(double x, int32_t limit) {
    if (!(x >= 0.0)) return 0;
    if (x >= static_cast<double>(limit)) return limit;
    return static_cast<int32_t>(x);
}

// A value lo is greater than becomes lo, otherwise one greater than hi becomes hi. With NaN
// on either side the comparison with it is false and that side does not clamp.
inline void ClampInto(double& v, double lo, double hi) {
    if (lo > v)
        v = lo;
    else if (v > hi)
        v = hi;
}

// Clamps start and end into [0, 1] and orders them; mends offsets that carry no phase. Returns
// false when the covered range is empty. A NaN bound stays NaN: it is not clamped, not exchanged
// and does not make the range empty, and the walk then clamps dash ends by the other bound only.
inline bool NormaliseRange(DashSettings& s) {
    // An infinite or NaN offset has no phase at all.
    if (!isfinite(s.offset)) s.offset = 0.0;
    // The subtraction gives the fraction exactly.
    if (fabs(s.offset) >= kOffsetPhaseLimit) s.offset = s.offset - trunc(s.offset);
    ClampInto(s.start, 0.0, 1.0);
    ClampInto(s.end, 0.0, 1.0);
    // The exchange and the empty-range test compare as IEEE in every build: false with NaN.
    if (s.start > s.end) {
        const double lower = s.end;
        s.end = s.start;
        s.start = lower;
    }
    return !(fabs(s.end - s.start) < kEmptyRangeWidth);
}

// Where each segment record of a line object starts among its points, and whether it can be
// read: every count moves the start on, a negative one backwards, and a segment that holds a
// negative count, starts before the first point or reaches past the last is dropped unread.
class SegmentWalk {
public:
    explicit SegmentWalk(int64_t pointCount) : points_(pointCount) {}

    // The next segment, of count points: its first point in *first; false when it cannot be read.
    bool Next(int32_t count, int64_t* first) {
        *first = next_;
        next_ += count;
        return count >= 0 && *first >= 0 && *first + count <= points_;
    }

private:
    int64_t points_;
    int64_t next_ = 0;  // 64 bits, so adding any count cannot wrap
};

// A measured segment of length 0 has nowhere to put dashes; neither has one whose length is not
// finite (non-finite points), where every position would be meaningless. The comparison is IEEE
// in every build: a NaN length is not 0 and is dropped as not finite.
inline bool HoldsDashes(double length) {
    return length != 0.0 && isfinite(length);
}

// What every segment of one pass shares.
struct PassLayout {
    int32_t baseDivisions;   // 2 x count, at least 1
    int32_t samplesPerUnit;  // subdivision + 2
};

inline PassLayout LayoutFor(const DashSettings& s) {
    PassLayout p;
    // Held inside 32 bits, so a huge count stays huge.
    p.baseDivisions = SaturatingAdd(s.count, s.count);
    if (p.baseDivisions < 1) p.baseDivisions = 1;
    p.samplesPerUnit = SaturatingAdd(s.subdivision, 2);
    return p;
}

// The number of division parameters of a segment of the given length.
inline int32_t DivisionCount(const DashSettings& s, const PassLayout& p, double length,
                             double maxLength) {
    if (!s.relative) return p.baseDivisions;
    return TruncateCount((length / maxLength) * static_cast<double>(p.baseDivisions), INT32_MAX);
}

// Lays the n division parameters j x K into divisions, jittered and then sorted when the jitter
// is positive: one draw per parameter in order. Without room for a parameter the segment keeps
// the ones already stored, so the walk never reads past them. Returns how many were stored.
template <class Array, class Random, class Sort>
int64_t LayDivisions(const DashSettings& s, int32_t n, double step, Random& random, Sort sort,
                     Array& divisions) {
    divisions.SetEmpty();
    const bool jitter = s.jitter > 0.0;
    for (int32_t j = 0; j < n; ++j) {
        double x = static_cast<double>(j) * step;
        if (jitter) {
            const double d = random.NextSigned();
#if KORRAND_MACOS_ARITHMETIC
            // macOS x86-64 scales the amount first; the last bits differ from Windows'.
            x = x + (kJitterScale * s.jitter) * d;
#else
            x = x + (d * kJitterScale) * s.jitter;
#endif
        }
        if (!divisions.Append(x)) break;
    }
    const int64_t stored = divisions.GetCount();
    if (jitter && stored > 1) sort(divisions.GetData(), static_cast<int32_t>(stored));
    return stored;
}

// The number of points of the dash [a, b]: truncation of (|b - a| / K) x (subdivision + 2),
// held to kMinSamples..kMaxSamples (NaN gives the least).
inline int32_t SampleCount(double a, double b, double step, int32_t samplesPerUnit) {
    const double exact = (fabs(b - a) / step) * static_cast<double>(samplesPerUnit);
    if (!(exact >= static_cast<double>(kMinSamples))) return kMinSamples;
    if (exact >= static_cast<double>(kMaxSamples)) return kMaxSamples;
    return static_cast<int32_t>(exact);
}

// Samples the dash [a, b] shifted by the offset into the two pieces: samples is its point count.
// A dash that crosses a whole number is cut there: the first piece ends at 1.0 and the second
// starts at 0.0. Every other sample keeps only its fraction. Returns false when a piece could not
// hold a value; the dash is then left out whole.
template <class Array>
bool CutAtWrap(double a, double b, double offset, int32_t samples, Array& first, Array& second) {
    const double shiftedA = a + offset;
    const double shiftedB = b + offset;
    const double h = 1.0 / static_cast<double>(samples - 1);
    const double c1 = ceil(shiftedA);
    const double c2 = ceil(shiftedB);
    const bool wrap = c1 != c2;  // IEEE in every build: a NaN end wraps

    first.SetEmpty();
    second.SetEmpty();
    bool inSecond = false;
    double threshold = c1;
    const double span = shiftedB - shiftedA;
    for (int32_t k = 0; k < samples; ++k) {
#if KORRAND_MACOS_ARITHMETIC
        // macOS x86-64 scales the span by the step first; the last bits differ from Windows'.
        double u = static_cast<double>(k) * (h * span) + shiftedA;
#else
        double u = (static_cast<double>(k) * h) * span + shiftedA;
#endif
        if (wrap && u >= threshold) {
            if (!first.Append(1.0) || !second.Append(0.0)) return false;
            inSecond = true;
            threshold = c2;
            continue;
        }
        if (u < 0.0 || u > 1.0) {
            // trunc gives what a 32-bit truncation gives wherever that is defined, and stays
            // defined for any magnitude.
            u = u - trunc(u);
            if (u < 0.0) u = u + 1.0;
        }
        if (!(inSecond ? second.Append(u) : first.Append(u))) return false;
    }
    return true;
}

// Lays out the dashes of one kept segment and hands each dash's two pieces to the sink, first
// then second. The sink supplies the arrays (divisions, first, second), Emit(const Array&) and
// Stopped(), which ends the segment's walk once the sink can take nothing more.
template <class Sink, class Random, class Sort>
void LayOutSegment(const DashSettings& s, const PassLayout& p, double length, double maxLength,
                   Random& random, Sort sort, Sink& sink) {
    if (sink.Stopped()) return;
    const int32_t n = DivisionCount(s, p, length, maxLength);
    const double step = 1.0 / static_cast<double>(n);
    const int64_t stored = LayDivisions(s, n, step, random, sort, sink.divisions);

    // The walk: pairs 0, 2, 4, ... are dashes, the others gaps; the flag flips whatever a pair
    // produced.
    const double* v = sink.divisions.GetData();
    bool dash = true;
    for (int64_t i = 0; i + 1 < stored && !sink.Stopped(); ++i, dash = !dash) {
        if (!dash) continue;
        double a = v[i];
        double b = v[i + 1];
        ClampInto(a, s.start, s.end);
        ClampInto(b, s.start, s.end);
        if (a == b) continue;  // IEEE in every build: a NaN end is kept
        const int32_t samples = SampleCount(a, b, step, p.samplesPerUnit);
        if (!CutAtWrap(a, b, s.offset, samples, sink.first, sink.second)) continue;
        sink.Emit(sink.first);
        sink.Emit(sink.second);
    }
}

}  // namespace dash

#endif
