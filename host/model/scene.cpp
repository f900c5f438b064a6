// Scene objects, their parameter containers and the viewport's handle drawing.
#include <climits>
#include <cmath>
#include <cstring>

#include "model_internal.h"

// ---- The container's storage

const HostContainer::Value* HostContainer::Find(int32_t id) const {
    for (int32_t i = 0; i < count; ++i)
        if (entries[i].id == id) return &entries[i].value;
    for (const Entry& e : more)
        if (e.id == id) return &e.value;
    return nullptr;
}

void HostContainer::Store(int32_t id, const Value& v) {
    if (Value* existing = const_cast<Value*>(Find(id))) {
        *existing = v;
    } else if (count < kInline) {
        entries[count++] = Entry{id, v};
    } else {
        more.push_back(Entry{id, v});
    }
    Mirror(id);
}

void HostContainer::Erase(int32_t id) {
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].id != id) continue;
        // Keep the inline entries packed: the last one (or the first spilled one) moves here.
        if (!more.empty()) {
            entries[i] = more.back();
            more.pop_back();
        } else {
            entries[i] = entries[--count];
        }
        break;
    }
    for (size_t i = 0; i < more.size(); ++i) {
        if (more[i].id != id) continue;
        more.erase(more.begin() + static_cast<std::ptrdiff_t>(i));
        break;
    }
    Mirror(id);
}

void HostContainer::Mirror(int32_t id) {
    if (id != hostmodel::kSplineClosed) return;
    const Value* v = Find(id);
    closed = v != nullptr && (v->type == hostmodel::ValueType::Real ? v->r != 0.0 : v->l != 0);
}

namespace hostmodel {
namespace {

using Value = HostContainer::Value;

// Object data beyond this is refused, as a real host refuses what it cannot allocate.
constexpr uint64_t kMaxObjectBytes = uint64_t(1) << 31;

bool FitsObjectLimit(int64_t pcnt, int64_t scnt) {
    return static_cast<uint64_t>(pcnt) * sizeof(HostVector) +
               static_cast<uint64_t>(scnt) * sizeof(HostSegment) <=
           kMaxObjectBytes;
}

int32_t RealToLong(double r) {
    if (std::isnan(r)) return 0;
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(r);  // toward zero
}

const Value* Find(const HostContainer* bc, int32_t id) {
    return bc != nullptr ? bc->Find(id) : nullptr;
}

void Store(HostContainer* bc, int32_t id, const Value& v) {
    if (bc == nullptr) return;
    try {
        bc->Store(id, v);
    } catch (...) {
    }
}

int32_t AsLong(const Value& v) {
    return v.type == ValueType::Real ? RealToLong(v.r) : v.l;
}
int32_t AsBool(const Value& v) {
    return (v.type == ValueType::Real ? v.r != 0.0 : v.l != 0) ? 1 : 0;
}
double AsReal(const Value& v) {
    return v.type == ValueType::Real ? v.r : static_cast<double>(v.l);
}

// ---- Containers

HostContainer* GetDataInstance(HostAtom* node) {
    if (detail::Recording()) detail::Record("container.GetDataInstance", node);
    return node != nullptr ? &node->container : nullptr;
}

void SetLong(HostContainer* bc, int32_t id, int32_t value) {
    if (detail::Recording()) detail::Record("container.SetLong", bc, {id, value});
    Store(bc, id, Value{ValueType::Long, value, 0.0});
}

void SetBool(HostContainer* bc, int32_t id, int32_t value) {
    if (detail::Recording()) detail::Record("container.SetBool", bc, {id, value});
    Store(bc, id, Value{ValueType::Bool, value != 0 ? 1 : 0, 0.0});
}

void SetReal(HostContainer* bc, int32_t id, double value) {
    if (detail::Recording()) detail::Record("container.SetReal", bc, {id}, {value});
    Store(bc, id, Value{ValueType::Real, 0, value});
}

int32_t GetLong(const HostContainer* bc, int32_t id, int32_t preset) {
    if (detail::Recording()) detail::Record("container.GetLong", bc, {id, preset});
    if (bc == nullptr) return 0;
    const Value* v = Find(bc, id);
    return v != nullptr ? AsLong(*v) : preset;
}

int32_t GetBool(const HostContainer* bc, int32_t id, int32_t preset) {
    if (detail::Recording()) detail::Record("container.GetBool", bc, {id, preset});
    if (bc == nullptr) return 0;
    const Value* v = Find(bc, id);
    return v != nullptr ? AsBool(*v) : preset;
}

double GetReal(const HostContainer* bc, int32_t id, double preset) {
    if (detail::Recording()) detail::Record("container.GetReal", bc, {id}, {preset});
    if (bc == nullptr) return 0.0;
    const Value* v = Find(bc, id);
    return v != nullptr ? AsReal(*v) : preset;
}

// ---- Objects

// A fresh object, or a kept one that looks fresh: no values, no points, no messages.
HostAtom* CreateAtom(int32_t type) {
    HostAtom* op = nullptr;
    if (auto* kept = detail::FreeList<HostAtom>::Mine()) op = kept->Take();
    if (op == nullptr) op = new HostAtom();
    op->type = type;
    detail::Created();
    return op;
}

void DestroyAtom(HostAtom* op) {
    if (op == nullptr) return;
    detail::Destroyed();
    if (!detail::kReuseFreedObjects) {
        delete op;
        return;
    }
    op->type = 0;
    op->splineType = 0;
    op->resizeFails = false;
    op->resizesRefused = 0;
    op->container.Clear();
    op->points.clear();  // capacity stays for the next object
    op->segments.clear();
    op->updates.store(0, std::memory_order_relaxed);
    op->otherMessages.reset();
    auto* kept = detail::FreeList<HostAtom>::Mine();
    if (kept == nullptr || !kept->Keep(op)) delete op;
}

int32_t GetType(const HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetType", op);
    return op != nullptr ? op->type : 0;
}

// Guards every object's map of message types other than update.
std::mutex& OtherMessagesMutex() {
    static std::mutex m;
    return m;
}

int32_t Message(HostAtom* op, int32_t type, void* /*data*/) {
    if (detail::Recording()) detail::Record("object.Message", op, {type});
    if (op == nullptr) return 0;
    if (type == kMsgUpdate) {
        op->updates.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    try {
        std::lock_guard<std::mutex> lock(OtherMessagesMutex());
        if (!op->otherMessages) op->otherMessages = std::make_unique<std::map<int32_t, int64_t>>();
        ++(*op->otherMessages)[type];
    } catch (...) {
        return 0;
    }
    return 1;
}

void Free(HostAtom* op) {
    if (detail::Recording()) detail::Record("object.Free", op);
    DestroyAtom(op);
}

int32_t GetPointCount(const HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetPointCount", op);
    if (op == nullptr || !detail::HasPoints(op->type)) return 0;
    return static_cast<int32_t>(op->points.size());
}

const HostVector* GetPointR(const HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetPointR", op);
    if (op == nullptr || !detail::HasPoints(op->type) || op->points.empty()) return nullptr;
    return op->points.data();
}

HostVector* GetPointW(HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetPointW", op);
    if (op == nullptr || !detail::HasPoints(op->type) || op->points.empty()) return nullptr;
    return op->points.data();
}

int32_t GetSegmentCount(const HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetSegmentCount", op);
    if (op == nullptr || !detail::HasSegments(op->type)) return 0;
    return static_cast<int32_t>(op->segments.size());
}

const HostSegment* GetSegmentR(const HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetSegmentR", op);
    if (op == nullptr || !detail::HasSegments(op->type) || op->segments.empty()) return nullptr;
    return op->segments.data();
}

HostSegment* GetSegmentW(HostAtom* op) {
    if (detail::Recording()) detail::Record("object.GetSegmentW", op);
    if (op == nullptr || !detail::HasSegments(op->type) || op->segments.empty()) return nullptr;
    return op->segments.data();
}

HostAtom* SplineAlloc(int32_t pcnt, int32_t type) {
    HostAtom* op = nullptr;
    if (!detail::ObjectAllocationFails() && pcnt >= 0 && FitsObjectLimit(pcnt, 1)) {
        try {
            op = CreateAtom(Ospline);
            op->splineType = type;
            op->points.resize(static_cast<size_t>(pcnt));
            if (pcnt > 0)
                std::memset(op->points.data(), 0, static_cast<size_t>(pcnt) * sizeof(HostVector));
            op->segments.push_back(HostSegment{pcnt, 0});
        } catch (...) {
            DestroyAtom(op);
            op = nullptr;
        }
    }
    if (detail::Recording()) detail::Record("object.SplineAlloc", op, {pcnt, type});
    return op;
}

int32_t ResizeObject(HostAtom* op, int32_t pcnt, int32_t scnt) {
    if (detail::Recording()) detail::Record("object.ResizeObject", op, {pcnt, scnt});
    if (op == nullptr || pcnt < 0 || scnt < 0) return 0;
    if (!detail::HasPoints(op->type)) return 0;
    if (!detail::HasSegments(op->type) && scnt != 0) return 0;
    if (op->resizeFails || !FitsObjectLimit(pcnt, scnt)) {
        ++op->resizesRefused;
        return 0;
    }
    try {
        // Reserve both first so a failure leaves the object as it was.
        op->points.reserve(static_cast<size_t>(pcnt));
        op->segments.reserve(static_cast<size_t>(scnt));
    } catch (...) {
        ++op->resizesRefused;
        return 0;
    }
    const size_t had = op->points.size();
    op->points.resize(static_cast<size_t>(pcnt));
    if (static_cast<size_t>(pcnt) > had)
        std::memset(op->points.data() + had, 0,
                    (static_cast<size_t>(pcnt) - had) * sizeof(HostVector));
    op->segments.resize(static_cast<size_t>(scnt));
    return 1;
}

// ---- Viewport

void DrawHandle(HostBaseDraw* bd, const HostVector* position, int32_t type) {
    if (detail::Recording())
        detail::Record("draw.DrawHandle", bd, {type},
                       {position ? position->x : 0.0, position ? position->y : 0.0,
                        position ? position->z : 0.0});
    if (bd == nullptr || position == nullptr) return;
    try {
        bd->handles.push_back(DrawnHandle{*position, type});
    } catch (...) {
    }
}

int32_t PointInRange(HostBaseDraw* bd, const HostVector* position, int32_t x, int32_t y) {
    if (detail::Recording()) detail::Record("draw.PointInRange", bd, {x, y});
    if (bd == nullptr || position == nullptr) return 0;
    return std::fabs(x - position->x) <= 5.0 && std::fabs(y - position->y) <= 5.0 ? 1 : 0;
}

}  // namespace

namespace detail {

size_t Footprint(const HostAtom& op) {
    return sizeof(HostAtom) + op.points.capacity() * sizeof(HostVector) +
           op.segments.capacity() * sizeof(HostSegment) +
           op.container.SpillCapacity() * sizeof(HostContainer::Entry);
}

void FillContainers(HostContainerOps& ops) {
    ops.GetDataInstance = GetDataInstance;
    ops.SetLong = SetLong;
    ops.SetBool = SetBool;
    ops.SetReal = SetReal;
    ops.GetLong = GetLong;
    ops.GetBool = GetBool;
    ops.GetReal = GetReal;
}

void FillObjects(HostObjectOps& ops) {
    ops.GetType = GetType;
    ops.Message = Message;
    ops.Free = Free;
    ops.GetPointCount = GetPointCount;
    ops.GetPointR = GetPointR;
    ops.GetPointW = GetPointW;
    ops.GetSegmentCount = GetSegmentCount;
    ops.GetSegmentR = GetSegmentR;
    ops.GetSegmentW = GetSegmentW;
    ops.SplineAlloc = SplineAlloc;
    ops.ResizeObject = ResizeObject;
}

void FillDraw(HostDrawOps& ops) {
    ops.DrawHandle = DrawHandle;
    ops.PointInRange = PointInRange;
}

}  // namespace detail

// ---- C++ helpers

HostAtom* NewLineObject(const std::vector<HostVector>& points,
                        const std::vector<int32_t>& segmentCounts) {
    HostAtom* op = CreateAtom(Oline);
    op->points.assign(points.begin(), points.end());
    for (int32_t cnt : segmentCounts) op->segments.push_back(HostSegment{cnt, 0});
    return op;
}

HostAtom* NewObject(int32_t type) {
    return CreateAtom(type);
}
void FreeObject(HostAtom* op) {
    DestroyAtom(op);
}

std::vector<HostVector> Points(const HostAtom* op) {
    return op != nullptr ? std::vector<HostVector>(op->points.begin(), op->points.end())
                         : std::vector<HostVector>();
}
std::vector<HostSegment> Segments(const HostAtom* op) {
    return op != nullptr ? op->segments : std::vector<HostSegment>();
}
bool SegmentCounts(const HostAtom* op, std::vector<int32_t>* counts, int64_t* total) {
    counts->clear();
    *total = 0;
    if (op == nullptr) return true;
    counts->reserve(op->segments.size());
    const int64_t present = static_cast<int64_t>(op->points.size());
    for (const HostSegment& s : op->segments) {
        if (s.cnt < 0 || *total + s.cnt > present) return false;
        counts->push_back(s.cnt);
        *total += s.cnt;
    }
    return true;
}
void SetPoints(HostAtom* op, const std::vector<HostVector>& points) {
    if (op != nullptr) op->points.assign(points.begin(), points.end());
}
void SetSegments(HostAtom* op, const std::vector<HostSegment>& segments) {
    if (op != nullptr) op->segments = segments;
}
void SetClosed(HostAtom* op, bool closed) {
    if (op != nullptr) Store(&op->container, kSplineClosed, Value{ValueType::Bool, closed, 0.0});
}

int64_t MessageCount(const HostAtom* op, int32_t type) {
    if (op == nullptr) return 0;
    if (type == kMsgUpdate) return op->updates.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(OtherMessagesMutex());
    if (!op->otherMessages) return 0;
    auto it = op->otherMessages->find(type);
    return it == op->otherMessages->end() ? 0 : it->second;
}
int64_t UpdateCount(const HostAtom* op) {
    return MessageCount(op, kMsgUpdate);
}

void SetResizeFails(HostAtom* op, bool fails) {
    if (op != nullptr) op->resizeFails = fails;
}
int64_t ResizesRefused(const HostAtom* op) {
    return op != nullptr ? op->resizesRefused : 0;
}

HostContainer* Container(HostAtom* op) {
    return op != nullptr ? &op->container : nullptr;
}
bool Has(const HostContainer* bc, int32_t id) {
    return Find(bc, id) != nullptr;
}
void Erase(HostContainer* bc, int32_t id) {
    if (bc != nullptr) bc->Erase(id);
}
std::optional<ValueType> TypeOf(const HostContainer* bc, int32_t id) {
    const Value* v = Find(bc, id);
    if (v == nullptr) return std::nullopt;
    return v->type;
}

HostBaseDraw* NewBaseDraw() {
    HostBaseDraw* bd = new HostBaseDraw();
    detail::Created();
    return bd;
}
void FreeBaseDraw(HostBaseDraw* bd) {
    if (bd == nullptr) return;
    delete bd;
    detail::Destroyed();
}
std::vector<DrawnHandle> DrawnHandles(const HostBaseDraw* bd) {
    return bd != nullptr ? bd->handles : std::vector<DrawnHandle>();
}

}  // namespace hostmodel
