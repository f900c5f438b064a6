// Scene objects as the plug-in sees them: opaque host handles with member functions that call
// through the host table. A pointer to one of these classes is the host's handle itself; the
// classes have no data and are never constructed by the plug-in.
#ifndef KORRAND_GE_SCENE_H
#define KORRAND_GE_SCENE_H

#include "ge_string.h"
#include "ge_types.h"

#define KORRAND_HOST_HANDLE(Class)           \
public:                                      \
    Class() = delete;                        \
    Class(const Class&) = delete;            \
    Class& operator=(const Class&) = delete; \
    ~Class() = delete;

class BaseContainer {
    KORRAND_HOST_HANDLE(BaseContainer)
    void SetLong(Int32 id, Int32 v) { Host().container.SetLong(H(), id, v); }
    void SetBool(Int32 id, bool v) { Host().container.SetBool(H(), id, v ? 1 : 0); }
    void SetReal(Int32 id, Float v) { Host().container.SetReal(H(), id, v); }
    Int32 GetLong(Int32 id, Int32 preset = 0) const {
        return Host().container.GetLong(H(), id, preset);
    }
    bool GetBool(Int32 id, bool preset = false) const {
        return Host().container.GetBool(H(), id, preset ? 1 : 0) != 0;
    }
    Float GetReal(Int32 id, Float preset = 0.0) const {
        return Host().container.GetReal(H(), id, preset);
    }

private:
    HostContainer* H() { return reinterpret_cast<HostContainer*>(this); }
    const HostContainer* H() const { return reinterpret_cast<const HostContainer*>(this); }
};

class C4DAtom {
    KORRAND_HOST_HANDLE(C4DAtom)
    Int32 GetType() const { return Host().object.GetType(H()); }
    bool Message(Int32 type, void* data = nullptr) {
        return Host().object.Message(H(), type, data) != 0;
    }
    HostAtom* H() { return reinterpret_cast<HostAtom*>(this); }
    const HostAtom* H() const { return reinterpret_cast<const HostAtom*>(this); }
    static C4DAtom* From(HostAtom* a) { return reinterpret_cast<C4DAtom*>(a); }
};

class GeListNode : public C4DAtom {
    KORRAND_HOST_HANDLE(GeListNode)
    static GeListNode* From(HostAtom* a) { return reinterpret_cast<GeListNode*>(a); }
};

class BaseList2D : public GeListNode {
    KORRAND_HOST_HANDLE(BaseList2D)
    BaseContainer* GetDataInstance() {
        return reinterpret_cast<BaseContainer*>(Host().container.GetDataInstance(H()));
    }
};

class BaseObject : public BaseList2D {
    KORRAND_HOST_HANDLE(BaseObject)
    static void Free(BaseObject*& op) {
        if (op != nullptr) Host().object.Free(op->H());
        op = nullptr;
    }
    static BaseObject* From(HostAtom* a) { return reinterpret_cast<BaseObject*>(a); }
};

class PointObject : public BaseObject {
    KORRAND_HOST_HANDLE(PointObject)
    Int32 GetPointCount() const { return Host().object.GetPointCount(H()); }
    const Vector* GetPointR() const {
        return reinterpret_cast<const Vector*>(Host().object.GetPointR(H()));
    }
    Vector* GetPointW() { return reinterpret_cast<Vector*>(Host().object.GetPointW(H())); }
};

class SplineObject : public PointObject {
    KORRAND_HOST_HANDLE(SplineObject)
    static SplineObject* Alloc(Int32 pcnt, Int32 type) {
        return reinterpret_cast<SplineObject*>(Host().object.SplineAlloc(pcnt, type));
    }
    Int32 GetSegmentCount() const { return Host().object.GetSegmentCount(H()); }
    const Segment* GetSegmentR() const {
        return reinterpret_cast<const Segment*>(Host().object.GetSegmentR(H()));
    }
    Segment* GetSegmentW() { return reinterpret_cast<Segment*>(Host().object.GetSegmentW(H())); }
    bool ResizeObject(Int32 pcnt, Int32 scnt) {
        return Host().object.ResizeObject(H(), pcnt, scnt) != 0;
    }
    Vector GetSplinePoint(Float t, Int32 segment = 0, const Vector* padr = nullptr) const {
        HostVector p = Host().object.GetSplinePoint(H(), t, segment,
                                                    reinterpret_cast<const HostVector*>(padr));
        return Vector(p.x, p.y, p.z);
    }
};

// Arc-length measurer on one segment of a spline.
class SplineLengthData {
    KORRAND_HOST_HANDLE(SplineLengthData)
    static SplineLengthData* Alloc() {
        return reinterpret_cast<SplineLengthData*>(Host().measurer.Alloc());
    }
    static void Free(SplineLengthData*& m) {
        if (m != nullptr) Host().measurer.Free(m->H());
        m = nullptr;
    }
    bool Init(const SplineObject* op, Int32 segment = 0, const SplineObject* override_ = nullptr) {
        return Host().measurer.Init(H(), op != nullptr ? op->H() : nullptr, segment,
                                    override_ != nullptr ? override_->H() : nullptr) != 0;
    }
    Float GetLength() const { return Host().measurer.GetLength(H()); }
    Float UniformToNatural(Float u) { return Host().measurer.UniformToNatural(H(), u); }

private:
    HostMeasurer* H() { return reinterpret_cast<HostMeasurer*>(this); }
    const HostMeasurer* H() const { return reinterpret_cast<const HostMeasurer*>(this); }
};

class BaseBitmap {
    KORRAND_HOST_HANDLE(BaseBitmap)
    static BaseBitmap* Alloc() { return reinterpret_cast<BaseBitmap*>(Host().bitmap.Alloc()); }
    static void Free(BaseBitmap*& bmp) {
        if (bmp != nullptr) Host().bitmap.Free(bmp->H());
        bmp = nullptr;
    }
    // 1 on success, any other value on failure. Without ismovie the host gets no movie flag to
    // fill.
    Int32 Init(const Filename& name, Int32 frame = -1, bool* ismovie = nullptr) {
        Int32 movie = 0;
        Int32 r =
            Host().bitmap.Init(H(), name.Data(), frame, ismovie != nullptr ? &movie : nullptr);
        if (ismovie != nullptr) *ismovie = movie != 0;
        return r;
    }
    HostBitmap* H() { return reinterpret_cast<HostBitmap*>(this); }
};

// Handles of scene data the plug-in passes along but never looks into.
class BaseDocument;
class BaseThread;
class HyperFile;
class AliasTrans;
class Description;
class GeData;
class BaseDraw;
class BaseDrawHelp;
struct Matrix {
    Vector off, v1, v2, v3;
};
static_assert(sizeof(Matrix) == sizeof(HostMatrix), "Matrix matches the host's layout");

#endif
