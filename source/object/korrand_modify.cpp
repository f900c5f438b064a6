// The modify operation: measure every segment of a line object, lay out its dash pattern,
// sample each dash through the host's measurer and write the dashes back in place.
//
// The floating-point operations below are part of the output: each product and sum is formed
// in the order written, and the build never contracts them into fused operations.
#include <math.h>
#include <string.h>

#include "ge_dynamicarray.h"
#include "ge_sort.h"
#include "korrand.h"
#include "okorrand.h"
#include "seeded_random.h"

namespace {

// One kept segment: its measurer, its work spline and its length.
struct WorkRecord {
    SplineLengthData* measurer;
    SplineObject* spline;
    Float length;
};
static_assert(sizeof(WorkRecord) == 24, "work record is three 8-byte fields");

constexpr Int32 kInt32Max = 2147483647;
constexpr Int32 kInt32Min = -2147483647 - 1;
constexpr Int32 kMaxSamples = 100;

// a + b, held inside the 32-bit range instead of wrapping.
Int32 SaturatingAdd(Int32 a, Int32 b) {
    const Int64 s = static_cast<Int64>(a) + static_cast<Int64>(b);
    if (s > kInt32Max) return kInt32Max;
    if (s < kInt32Min) return kInt32Min;
    return static_cast<Int32>(s);
}

// Truncation toward zero of a non-negative quantity that is at most limit; NaN counts as 0.
Int32 TruncateCount(Float x, Int32 limit) {
    if (!(x >= 0.0)) return 0;
    if (x >= static_cast<Float>(limit)) return limit;
    return static_cast<Int32>(x);
}

void ClampInto(Float& v, Float lo, Float hi) {
    if (lo > v)
        v = lo;
    else if (v > hi)
        v = hi;
}

void ReleaseRecord(WorkRecord& r) {
    SplineLengthData::Free(r.measurer);
    if (r.spline != nullptr) {
        BaseObject* spline = r.spline;
        BaseObject::Free(spline);
    }
    r.spline = nullptr;
}

// Everything one pass collects; all of it belongs to the call.
struct DashPass {
    explicit DashPass(Int32 segmentCount, Int32 baseDivisions)
        : work(segmentCount), points(12288), segments(2048), divisions(baseDivisions),
          first(4), second(4) {}
    ~DashPass() { FreeAll(); }

    void FreeAll() {
        work.FreeStorage();
        divisions.FreeStorage();
        first.FreeStorage();
        second.FreeStorage();
        points.FreeStorage();
        segments.FreeStorage();
    }

    GeDynamicArray<WorkRecord, true> work;
    GeDynamicArray<Vector, true> points;
    GeDynamicArray<Segment> segments;
    GeDynamicArray<Float> divisions;
    GeDynamicArray<Float> first;
    GeDynamicArray<Float> second;
    // Set when the host refused room for output: no later dash is laid out, rather than asking
    // the host again for every one of possibly millions.
    bool outputRefused = false;
};

// Samples one piece of a dash into the output: all of its points and its record, or nothing,
// so the written counts always add up to the points written.
void EmitPiece(DashPass& pass, const GeDynamicArray<Float>& piece, WorkRecord& r) {
    const Int64 n = piece.GetCount();
    if (n <= 1) return;
    const Int64 before = pass.points.GetCount();
    // The host's object holds at most 2^31 - 1 points.
    if (n > static_cast<Int64>(kInt32Max) - before ||
        pass.segments.GetCount() >= static_cast<Int64>(kInt32Max)) {
        pass.outputRefused = true;
        return;
    }
    // The whole piece is taken in one insert and filled in place. A piece (at most 100
    // samples) is shorter than a block, so the storage grows by the same blocks, in the same
    // number of steps, as with one append per sample.
    if (!pass.points.InsertElements(before, n, false, false)) {
        pass.outputRefused = true;
        return;
    }
    Vector* out = pass.points.GetData() + before;
    for (Int64 i = 0; i < n; ++i) {
        const Float t = r.measurer->UniformToNatural(piece[i]);
        out[i] = r.spline->GetSplinePoint(t, 0);
    }
    Segment s;
    s.cnt = static_cast<Int32>(n);
    s.closed = 0;
    if (!pass.segments.Append(s)) {
        pass.points.Truncate(before);
        pass.outputRefused = true;
    }
}

// Measures count points from src as a work spline of its own and appends its record to the
// work list. Returns false, with nothing left alive, when the segment is dropped.
bool MeasureSegment(DashPass& pass, const Vector* src, Int32 count, bool closed, Float* length) {
    SplineObject* spline = SplineObject::Alloc(count, SPLINETYPE_LINEAR);
    if (spline == nullptr) return false;
    BaseObject* asObject = spline;

    BaseContainer* settings = spline->GetDataInstance();
    if (settings != nullptr) settings->SetBool(SPLINEOBJECT_CLOSED, closed);
    Vector* dst = spline->GetPointW();
    if (src != nullptr && dst != nullptr && count != 0)
        memcpy(dst, src, static_cast<size_t>(count) * sizeof(Vector));
    spline->Message(MSG_UPDATE);

    const Int64 index = pass.work.GetCount();
    if (!pass.work.InsertElements(index, 1, true)) {
        BaseObject::Free(asObject);
        return false;
    }
    WorkRecord& r = pass.work[index];
    r.spline = spline;
    r.length = 0.0;
    r.measurer = SplineLengthData::Alloc();
    bool keep = false;
    if (r.measurer != nullptr) {
        if (r.measurer->Init(spline, 0, nullptr)) {
            r.length = r.measurer->GetLength();
            // A segment of length 0 has nowhere to put dashes; neither has one whose length is
            // not finite (non-finite points), where every position would be meaningless.
            keep = r.length != 0.0 && isfinite(r.length);
        }
        if (!keep) SplineLengthData::Free(r.measurer);
    }
    if (!keep) {
        BaseObject::Free(asObject);
        pass.work.Truncate(index);
        return false;
    }
    *length = r.length;
    return true;
}

// Lays out, samples and emits the dashes of one kept segment.
void LayOutRecord(DashPass& pass, WorkRecord& r, const DashSettings& s, Int32 baseDivisions,
                  Float maxLength, SeededRandom& random, Int32 samplesPerUnit) {
    if (pass.outputRefused) return;
    Int32 n = baseDivisions;
    if (s.relative)
        n = TruncateCount((r.length / maxLength) * static_cast<Float>(baseDivisions), kInt32Max);

    pass.divisions.SetEmpty();
    const Float K = 1.0 / static_cast<Float>(n);
    const bool jitter = s.jitter > 0.0;
    for (Int32 j = 0; j < n; ++j) {
        Float x = static_cast<Float>(j) * K;
        if (jitter) {
            const Float d = random.NextSigned();
            x = x + (d * 0.1) * s.jitter;
        }
        // Without room for a parameter the segment keeps the ones already stored: the walk
        // below never reads past them.
        if (!pass.divisions.Append(x)) break;
    }
    const Int64 stored = pass.divisions.GetCount();
    if (jitter && stored > 1) SortReals(pass.divisions.GetData(), static_cast<Int32>(stored));

    const Float* v = pass.divisions.GetData();
    bool dash = true;
    for (Int64 i = 0; i + 1 < stored && !pass.outputRefused; ++i, dash = !dash) {
        if (!dash) continue;
        Float a = v[i];
        Float b = v[i + 1];
        ClampInto(a, s.start, s.end);
        ClampInto(b, s.start, s.end);
        if (a == b) continue;

        // Sample count: truncation of (|b - a| / K) * (subdivision + 2), held to 2..100.
        const Float exact = (fabs(b - a) / K) * static_cast<Float>(samplesPerUnit);
        Int32 m;
        if (!(exact >= 2.0))
            m = 2;
        else if (exact >= static_cast<Float>(kMaxSamples))
            m = kMaxSamples;
        else
            m = static_cast<Int32>(exact);

        const Float a1 = a + s.offset;
        const Float b1 = b + s.offset;
        const Float h = 1.0 / static_cast<Float>(m - 1);
        const Float c1 = ceil(a1);
        const Float c2 = ceil(b1);
        const bool wrap = c1 != c2;

        pass.first.SetEmpty();
        pass.second.SetEmpty();
        bool inSecond = false;
        bool stored_ok = true;
        Float threshold = c1;
        const Float span = b1 - a1;
        for (Int32 k = 0; k < m && stored_ok; ++k) {
            Float u = (static_cast<Float>(k) * h) * span + a1;
            if (wrap && u >= threshold) {
                stored_ok = pass.first.Append(1.0) && pass.second.Append(0.0);
                inSecond = true;
                threshold = c2;
                continue;
            }
            if (u < 0.0 || u > 1.0) {
                // Keep the fraction: trunc gives what a 32-bit truncation gives wherever that
                // is defined, and stays defined for any magnitude.
                u = u - trunc(u);
                if (u < 0.0) u = u + 1.0;
            }
            stored_ok = inSecond ? pass.second.Append(u) : pass.first.Append(u);
        }
        // A dash whose samples could not all be kept is left out whole.
        if (!stored_ok) continue;
        EmitPiece(pass, pass.first, r);
        EmitPiece(pass, pass.second, r);
    }
}

}  // namespace

bool ReadDashSettings(const BaseContainer* bc, DashSettings* out) {
    DashSettings s = {0.0, false, 0, 0, 0.0, 0, false, 0.0, 0.0};
    // A node without a container reads as one whose entries are all absent.
    if (bc != nullptr) {
    s.offset = bc->GetReal(KORRAND_OFFSET, 0.0);
    s.closed = bc->GetBool(KORRAND_CLOSED, false);
    s.count = bc->GetLong(KORRAND_COUNT, 0);
    s.seed = bc->GetLong(KORRAND_SEED, 0);
    s.jitter = bc->GetReal(KORRAND_JITTER, 0.0);
    s.subdivision = bc->GetLong(KORRAND_SUBDIVISION, 0);
    s.relative = bc->GetBool(KORRAND_RELATIVE, false);
    s.start = bc->GetReal(KORRAND_START, 0.0);
    s.end = bc->GetReal(KORRAND_END, 0.0);
    }

    // A stored value that is not a number has no meaning: fall back to the default of that
    // parameter (start 0, end 1, no shift). An infinite offset has no phase at all.
    if (isnan(s.start)) s.start = 0.0;
    if (isnan(s.end)) s.end = 1.0;
    if (!isfinite(s.offset)) s.offset = 0.0;
    // Only the offset's phase counts. Past 32 bits, adding it to a division parameter rounds
    // the fraction away (from 2^52 on, every dash collapses onto a whole number): keep just the
    // fraction, which this subtraction gives exactly.
    if (fabs(s.offset) >= 4294967296.0) s.offset = s.offset - trunc(s.offset);

    ClampInto(s.start, 0.0, 1.0);
    ClampInto(s.end, 0.0, 1.0);
    if (s.start > s.end) {
        const Float t = s.start;
        s.start = s.end;
        s.end = t;
    }
    *out = s;
    return !(fabs(s.end - s.start) < 0.001);
}

bool KorrandObject::ModifyObject(BaseObject* mod, BaseDocument*, BaseObject* op, const Matrix*,
                                 const Matrix*, Float, Int32, BaseThread*) {
    if (op == nullptr || op->GetType() != Oline) return true;
    SplineObject* line = static_cast<SplineObject*>(static_cast<BaseObject*>(op));

    const Int32 segmentCount = line->GetSegmentCount();
    const Segment* inSegments = line->GetSegmentR();
    const Vector* inPoints = line->GetPointR();
    // Segment counts are checked against the points present, so that a line object whose
    // records claim more points than it holds is never read past its end.
    const Int64 pointCount = inPoints != nullptr ? line->GetPointCount() : 0;

    DashSettings s;
    BaseContainer* bc = mod != nullptr ? mod->GetDataInstance() : nullptr;
    if (!ReadDashSettings(bc, &s)) return line->ResizeObject(0, 0);

    SeededRandom random;
    random.Seed(s.seed);

    // 2 * count, held inside 32 bits so a huge count stays huge.
    Int32 baseDivisions = SaturatingAdd(s.count, s.count);
    if (baseDivisions < 1) baseDivisions = 1;
    const Int32 samplesPerUnit = SaturatingAdd(s.subdivision, 2);

    DashPass pass(segmentCount, baseDivisions);
    Float maxLength = 0.0;
    Int64 keptCount = 0;
    Int64 E = 0;

    for (Int32 j = 0; j < segmentCount && inSegments != nullptr; ++j) {
        const Int32 F = inSegments[j].cnt;
        // A negative count holds no points; a segment reaching past the points is dropped.
        if (F < 0) continue;
        const bool readable = E + F <= pointCount;
        Float length = 0.0;
        if (readable && MeasureSegment(pass, inPoints + E, F, s.closed, &length)) {
            if (length > maxLength) maxLength = length;
            ++keptCount;
        }
        E += F;
    }

    for (Int64 i = 0; i < keptCount; ++i) {
        WorkRecord& r = pass.work[i];
        LayOutRecord(pass, r, s, baseDivisions, maxLength, random, samplesPerUnit);
        ReleaseRecord(r);
    }

    const Int64 outPoints = pass.points.GetCount();
    const Int64 outSegments = pass.segments.GetCount();
    if (line->ResizeObject(static_cast<Int32>(outPoints), static_cast<Int32>(outSegments))) {
        Vector* dstPoints = line->GetPointW();
        if (pass.points.HasStorage() && dstPoints != nullptr && outPoints != 0)
            memcpy(dstPoints, pass.points.GetData(), static_cast<size_t>(outPoints) * sizeof(Vector));
        Segment* dstSegments = line->GetSegmentW();
        if (pass.segments.HasStorage() && dstSegments != nullptr && outSegments != 0)
            memcpy(dstSegments, pass.segments.GetData(),
                   static_cast<size_t>(outSegments) * sizeof(Segment));
        line->Message(MSG_UPDATE);
    }
    pass.FreeAll();
    return true;
}
