// The modify operation: measures every segment of a line object as a host spline, lays out its
// dash pattern (dash_pattern.h), samples each dash through the host's measurer and writes the
// dashes back in place.
#include <string.h>

#include "dash_pattern.h"
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

void ReleaseRecord(WorkRecord& record) {
    SplineLengthData::Free(record.measurer);
    if (record.spline != nullptr) {
        BaseObject* spline = record.spline;
        BaseObject::Free(spline);
    }
    record.spline = nullptr;
}

// Everything one pass collects; all of it belongs to the call.
struct DashPass {
    explicit DashPass(Int32 segmentCount, Int32 baseDivisions)
        : work(segmentCount),
          points(kOutputPointBlock),
          segments(kOutputSegmentBlock),
          divisions(baseDivisions),
          first(kPieceBlock),
          second(kPieceBlock) {}
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

    // The dash pattern's view of the pass.
    bool Stopped() const { return outputRefused; }
};

// Samples one piece of a dash into the output: all of its points and its record, or nothing,
// so the written counts always add up to the points written.
void EmitPiece(DashPass& pass, const GeDynamicArray<Float>& piece, WorkRecord& record) {
    const Int64 n = piece.GetCount();
    if (n <= 1) return;
    const Int64 before = pass.points.GetCount();
    // The host's object holds at most 2^31 - 1 points.
    if (n > static_cast<Int64>(INT32_MAX) - before ||
        pass.segments.GetCount() >= static_cast<Int64>(INT32_MAX)) {
        pass.outputRefused = true;
        return;
    }
    // The whole piece is taken in one insert and filled in place. A piece (at most 100
    // samples) is shorter than a block, so the storage grows by the same blocks, in the same
    // number of steps, as with one append per sample.
    const bool clear = false, construct = false;  // every element is written below
    if (!pass.points.InsertElements(before, n, clear, construct)) {
        pass.outputRefused = true;
        return;
    }
    Vector* out = pass.points.GetData() + before;
    for (Int64 i = 0; i < n; ++i) {
        const Float t = record.measurer->UniformToNatural(piece[i]);
        out[i] = record.spline->GetSplinePoint(t, 0);
    }
    Segment written;
    written.cnt = static_cast<Int32>(n);
    written.closed = 0;
    if (!pass.segments.Append(written)) {
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
    const bool zeroed = true;
    if (!pass.work.InsertElements(index, 1, zeroed)) {
        BaseObject::Free(asObject);
        return false;
    }
    WorkRecord& record = pass.work[index];
    record.spline = spline;
    record.length = 0.0;
    record.measurer = SplineLengthData::Alloc();
    bool keep = false;
    if (record.measurer != nullptr) {
        if (record.measurer->Init(spline, 0, nullptr)) {
            record.length = record.measurer->GetLength();
            keep = dash::HoldsDashes(record.length);
        }
        if (!keep) SplineLengthData::Free(record.measurer);
    }
    if (!keep) {
        BaseObject::Free(asObject);
        pass.work.Truncate(index);
        return false;
    }
    *length = record.length;
    return true;
}

// Hands the dash pattern the pass's arrays and turns each of its pieces into output points
// through the record's measurer and work spline.
struct RecordSink {
    DashPass& pass;
    WorkRecord& record;
    GeDynamicArray<Float>& divisions;
    GeDynamicArray<Float>& first;
    GeDynamicArray<Float>& second;

    bool Stopped() const { return pass.Stopped(); }
    void Emit(const GeDynamicArray<Float>& piece) { EmitPiece(pass, piece, record); }
};

void LayOutRecord(DashPass& pass, WorkRecord& record, const DashSettings& settings,
                  const dash::PassLayout& layout, Float maxLength, SeededRandom& random) {
    RecordSink sink{pass, record, pass.divisions, pass.first, pass.second};
    dash::LayOutSegment(settings, layout, record.length, maxLength, random, SortReals, sink);
}

}  // namespace

bool ReadDashSettings(const BaseContainer* bc, DashSettings* out) {
    DashSettings read = {0.0, false, 0, 0, 0.0, 0, false, 0.0, 0.0};
    // A node without a container reads as one whose entries are all absent.
    if (bc != nullptr) {
        read.offset = bc->GetReal(KORRAND_OFFSET, 0.0);
        read.closed = bc->GetBool(KORRAND_CLOSED, false);
        read.count = bc->GetLong(KORRAND_COUNT, 0);
        read.seed = bc->GetLong(KORRAND_SEED, 0);
        read.jitter = bc->GetReal(KORRAND_JITTER, 0.0);
        read.subdivision = bc->GetLong(KORRAND_SUBDIVISION, 0);
        read.relative = bc->GetBool(KORRAND_RELATIVE, false);
        read.start = bc->GetReal(KORRAND_START, 0.0);
        read.end = bc->GetReal(KORRAND_END, 0.0);
    }

    *out = read;
    return dash::NormaliseRange(*out);
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

    DashSettings settings;
    BaseContainer* bc = mod != nullptr ? mod->GetDataInstance() : nullptr;
    if (!ReadDashSettings(bc, &settings)) return line->ResizeObject(0, 0);

    SeededRandom random;
    random.Seed(settings.seed);
    const dash::PassLayout layout = dash::LayoutFor(settings);

    DashPass pass(segmentCount, layout.baseDivisions);
    Float maxLength = 0.0;
    Int64 keptCount = 0;
    dash::SegmentWalk walk(pointCount);
    for (Int32 j = 0; j < segmentCount && inSegments != nullptr; ++j) {
        const Int32 count = inSegments[j].cnt;
        Int64 first = 0;
        Float length = 0.0;
        if (walk.Next(count, &first) &&
            MeasureSegment(pass, inPoints + first, count, settings.closed, &length)) {
            if (length > maxLength) maxLength = length;
            ++keptCount;
        }
    }

    for (Int64 i = 0; i < keptCount; ++i) {
        WorkRecord& record = pass.work[i];
        LayOutRecord(pass, record, settings, layout, maxLength, random);
        ReleaseRecord(record);
    }

    const Int64 outPoints = pass.points.GetCount();
    const Int64 outSegments = pass.segments.GetCount();
    if (line->ResizeObject(static_cast<Int32>(outPoints), static_cast<Int32>(outSegments))) {
        Vector* dstPoints = line->GetPointW();
        if (pass.points.HasStorage() && dstPoints != nullptr && outPoints != 0)
            memcpy(dstPoints, pass.points.GetData(),
                   static_cast<size_t>(outPoints) * sizeof(Vector));
        Segment* dstSegments = line->GetSegmentW();
        if (pass.segments.HasStorage() && dstSegments != nullptr && outSegments != 0)
            memcpy(dstSegments, pass.segments.GetData(),
                   static_cast<size_t>(outSegments) * sizeof(Segment));
        line->Message(MSG_UPDATE);
    }
    pass.FreeAll();
    return true;
}
