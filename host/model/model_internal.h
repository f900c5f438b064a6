// What the host model's translation units share: the layout behind each opaque handle, the
// live-object and recorder hooks, and the functions that fill the sub-tables.
#ifndef KORRAND_HOST_MODEL_INTERNAL_H
#define KORRAND_HOST_MODEL_INTERNAL_H

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host_model.h"

// A parameter container. Objects hold a handful of values, so they sit inline in a small array
// (found by a short scan, no allocation); more spill into a vector. The closed flag of a spline
// is mirrored in a plain field because evaluation reads it once per sample.
struct HostContainer {
    struct Value {
        hostmodel::ValueType type;
        int32_t l;
        double r;
    };
    struct Entry {
        int32_t id;
        Value value;
    };
    static constexpr int32_t kInline = 12;

    const Value* Find(int32_t id) const;
    void Store(int32_t id, const Value& v);  // may throw std::bad_alloc past the inline entries
    void Erase(int32_t id);
    void Clear() {
        count = 0;
        more.clear();
        closed = false;
    }
    bool Closed() const { return closed; }
    size_t SpillCapacity() const { return more.capacity(); }

private:
    void Mirror(int32_t id);

    Entry entries[kInline];
    int32_t count = 0;
    std::vector<Entry> more;
    bool closed = false;
};

// Value-initialisation through this allocator leaves plain data as it is: the model clears
// what must read as zero itself, with memset, which is several times faster than the
// element-wise stores of std::allocator for 24-byte points.
template <class T>
struct UninitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <class U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U*) noexcept {}
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using PointArray = std::vector<HostVector, UninitAllocator<HostVector>>;

struct HostAtom {
    int32_t type = 0;
    int32_t splineType = 0;
    bool resizeFails = false;
    int64_t resizesRefused = 0;  // ResizeObject calls refused for want of room
    HostContainer container;
    PointArray points;  // resize leaves new points unset: clear them where they must be zero
    std::vector<HostSegment> segments;
    // Update messages are the ones sent per evaluation: a counter of their own. Other types
    // are rare and kept in a map made on first use, under one lock shared by all objects.
    std::atomic<int64_t> updates{0};
    std::unique_ptr<std::map<int32_t, int64_t>> otherMessages;
};

// A measurer keeps only what mapping needs: for each edge of positive length, where it starts
// along the segment (the prefix sums) and its length, in two plain arrays so that a moving
// cursor reads one array in order. index holds each kept edge's position among all edges, and
// stays empty while no edge was skipped (then it equals the kept position).
struct HostMeasurer {
    std::unique_ptr<double[]> start;
    std::unique_ptr<double[]> len;
    size_t capacity = 0;  // entries of start and len
    std::vector<int32_t> index;
    size_t kept = 0;
    int32_t edgeCount = 0;
    double length = 0.0;
    bool ready = false;
    size_t cursor = 0;
};

struct HostBitmap {
    int32_t w = 0, h = 0;
    std::vector<uint32_t> pixels;
};

struct HostResource {
    struct Entry {
        std::string text;
        HostStringData data;
    };
    std::string folder;
    std::map<int32_t, Entry> strings;  // node-based: each data.impl points at its own text
};

struct HostBaseDraw {
    std::vector<hostmodel::DrawnHandle> handles;
};

namespace hostmodel {
namespace detail {

// Live host objects of every kind.
extern std::atomic<int64_t> g_liveObjects;
inline void Created() {
    g_liveObjects.fetch_add(1, std::memory_order_relaxed);
}
inline void Destroyed() {
    g_liveObjects.fetch_sub(1, std::memory_order_relaxed);
}

// Counts one object creation call; true when fault injection makes this one fail.
bool ObjectAllocationFails();

// Built with AddressSanitizer (or MemorySanitizer): then freed objects are not kept for reuse
// and memory blocks get no room beyond their size, so that every use after release and every
// access past a block's end is seen.
using hostmodel::kAddressChecked;  // host_model.h
// Keeping objects and blocks per thread relies on destructors of thread-local objects at
// thread exit; with the MinGW-w64 runtime, threads that ran them failed to join or hung under
// Wine. Off on Windows.
#if defined(_WIN32)
constexpr bool kThreadCaches = false;
#else
constexpr bool kThreadCaches = true;
#endif
constexpr bool kReuseFreedObjects = !kAddressChecked && kThreadCaches;

// Bytes an object holds, its own and its arrays' (capacity, not size).
size_t Footprint(const HostAtom& op);
size_t Footprint(const HostMeasurer& m);

// Objects of one kind freed on this thread, kept with their storage for the next creation on
// it. A host evaluates the same objects again and again: reusing their warm memory spares the
// allocator and, above all, the page faults of memory returned and taken back each time.
// Per thread, so taking and keeping need no lock; bounded in bytes, the longest kept going
// first, so that what is kept follows the current work.
template <class T>
class FreeList {
public:
    static constexpr size_t kBudget = size_t(256) << 20;  // bytes kept per thread and kind
    static constexpr size_t kLargest = size_t(16) << 20;  // larger objects are really freed

    // The calling thread's list; null while its thread ends and the list is gone.
    static FreeList* Mine() {
        if (!kReuseFreedObjects) return nullptr;
        thread_local bool gone = false;  // trivially destructible: readable to the very end
        if (gone) return nullptr;
        thread_local FreeList list(&gone);
        return &list;
    }
    ~FreeList() {
        *gone_ = true;
        for (T* t : items_) delete t;
    }
    FreeList(const FreeList&) = delete;
    FreeList& operator=(const FreeList&) = delete;

    T* Take() {
        if (items_.empty()) return nullptr;
        T* t = items_.back();
        items_.pop_back();
        bytes_ -= Footprint(*t);
        return t;
    }
    // False when t is not kept (the caller deletes it).
    bool Keep(T* t) {
        const size_t bytes = Footprint(*t);
        if (!kReuseFreedObjects || bytes > kLargest) return false;
        if (bytes_ + bytes > kBudget) Evict(bytes_ + bytes - kBudget + kBudget / 4);
        try {
            items_.push_back(t);
        } catch (...) {
            return false;
        }
        bytes_ += bytes;
        return true;
    }

private:
    explicit FreeList(bool* gone) : gone_(gone) {}
    // Deletes the longest kept objects, at least bytes of them, in one pass.
    void Evict(size_t bytes) {
        size_t freed = 0, n = 0;
        while (n < items_.size() && freed < bytes) {
            freed += Footprint(*items_[n]);
            delete items_[n++];
        }
        items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(n));
        bytes_ -= freed;
    }

    bool* gone_;
    std::vector<T*> items_;
    size_t bytes_ = 0;
};

// The recorder costs one relaxed load while off.
extern std::atomic<bool> g_recording;
inline bool Recording() {
    return g_recording.load(std::memory_order_relaxed);
}
void Record(const char* op, const void* handle, std::initializer_list<int64_t> ints = {},
            std::initializer_list<double> reals = {}, const char* text = nullptr);

// The text behind string and file name values; null when the value holds none.
std::string* StringOf(const HostStringData* s);
std::string* StringOf(const HostFilenameData* f);
const HostStringData* EmptyString();  // the host's shared empty string
void InitFilename(HostFilenameData* f, const std::string& path);
void FreeFilename(HostFilenameData* f);

// Inline: evaluation asks these once per sample.
inline bool HasPoints(int32_t type) {
    return type == Opolygon || type == Ospline || type == Oline;
}
inline bool HasSegments(int32_t type) {
    return type == Ospline || type == Oline;
}
inline bool IsClosed(const HostAtom* op) {
    return op->container.Closed();
}
// First point and point count of segment seg, clamped to the points that exist. False when
// there is no such segment.
bool SegmentRange(const HostAtom* op, size_t pointCount, int32_t seg, size_t* begin, size_t* count);

std::string FolderOf(const HostResource* res);

// Registrations made while a plug-in's entry point runs belong to it. Enter returns the
// context it replaces, for Leave to restore.
struct PluginContext {
    const void* owner;
    std::string folder;
};
PluginContext EnterPlugin(const void* owner, const std::string& folder);
void LeavePlugin(const PluginContext& previous);
std::vector<Registration> RegistrationsOf(const void* owner);
void DropRegistrations(const void* owner);
// Why registrations made by owner were refused for their record's width.
std::vector<std::string> RecordWidthRefusalsOf(const void* owner);

void FillMemory(HostMemoryOps& ops);
void FillStrings(HostStringOps& ops);
void FillFilenames(HostFilenameOps& ops);
void FillDescIDs(HostDescIDOps& ops);
void FillContainers(HostContainerOps& ops);
void FillObjects(HostObjectOps& ops);
void FillSplines(HostObjectOps& objects, HostMeasurerOps& measurer);
void FillBitmaps(HostBitmapOps& ops);
void FillResources(HostResourceOps& ops);
void FillDraw(HostDrawOps& ops);
void FillRegistration(HostRegistrationOps& ops, HostGeneralOps& general);

}  // namespace detail
}  // namespace hostmodel

#endif
