// What the host model's translation units share: the layout behind each opaque handle, the
// live-object and recorder hooks, and the functions that fill the sub-tables.
#ifndef KORRAND_HOST_MODEL_INTERNAL_H
#define KORRAND_HOST_MODEL_INTERNAL_H

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host_model.h"

struct HostContainer {
    struct Value {
        hostmodel::ValueType type;
        int32_t l;
        double r;
    };
    std::map<int32_t, Value> values;
};

struct HostAtom {
    int32_t type = 0;
    int32_t splineType = 0;
    bool resizeFails = false;
    HostContainer container;
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
    mutable std::mutex messageMutex;
    std::map<int32_t, int64_t> messages;
};

// A measurer keeps only what mapping needs: the edges of positive length with their start
// along the segment (the prefix sums), so queries never touch the spline again.
struct HostMeasurer {
    struct Edge {
        double start, len;
        int32_t index;
    };
    std::vector<Edge> edges;
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
    std::map<int32_t, Entry> strings; // node-based: each data.impl points at its own text
};

struct HostBaseDraw {
    std::vector<hostmodel::DrawnHandle> handles;
};

namespace hostmodel {
namespace detail {

// Live host objects of every kind.
extern std::atomic<int64_t> g_liveObjects;
inline void Created() { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
inline void Destroyed() { g_liveObjects.fetch_sub(1, std::memory_order_relaxed); }

// Counts one object creation call; true when fault injection makes this one fail.
bool ObjectAllocationFails();

// The recorder costs one relaxed load while off.
extern std::atomic<bool> g_recording;
inline bool Recording() { return g_recording.load(std::memory_order_relaxed); }
void Record(const char* op, const void* handle, std::initializer_list<int64_t> ints = {},
            std::initializer_list<double> reals = {}, const char* text = nullptr);

// The text behind string and file name values; null when the value holds none.
std::string* StringOf(const HostStringData* s);
std::string* StringOf(const HostFilenameData* f);
const HostStringData* EmptyString(); // the host's shared empty string
void InitFilename(HostFilenameData* f, const std::string& path);
void FreeFilename(HostFilenameData* f);

bool HasPoints(int32_t type);
bool HasSegments(int32_t type);
bool IsClosed(const HostAtom* op);
// First point and point count of segment seg, clamped to the points that exist. False when
// there is no such segment.
bool SegmentRange(const HostAtom* op, size_t pointCount, int32_t seg, size_t* begin,
                  size_t* count);

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

} // namespace detail
} // namespace hostmodel

#endif
