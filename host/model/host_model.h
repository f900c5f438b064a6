// The in-process host: implements the function table of host_abi.h for tests, the command-line
// host and benchmarks, plus the C++ helpers they use to build scenes, inspect results and
// inject faults. Everything here is thread-safe unless a comment says otherwise; the table keeps
// the thread rules host_abi.h gives for each entry, concurrent evaluation of objects included.
#ifndef KORRAND_HOST_MODEL_H
#define KORRAND_HOST_MODEL_H

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host_abi.h"

namespace hostmodel {

// Built with AddressSanitizer (or MemorySanitizer): the model and its hosts then give every block
// back at once and keep nothing for reuse, so that every use after release, access past a
// block's end and leak is seen.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kAddressChecked = true;
#else
constexpr bool kAddressChecked = false;
#endif
#else
constexpr bool kAddressChecked = false;
#endif

// ---- The table ------------------------------------------------------------------------------
const HostFunctionTable* Table();  // the one table, version HOST_API_VERSION
HostFunctionTable MakeTable();     // a copy callers may tamper with

// ---- Scene objects --------------------------------------------------------------------------
// Short names for host_abi.h's numbers.
constexpr int32_t Opolygon = HOST_OBJECT_POLYGON;
constexpr int32_t Ospline = HOST_OBJECT_SPLINE;
constexpr int32_t Oline = HOST_OBJECT_LINE;
constexpr int32_t Onull = HOST_OBJECT_NULL;
constexpr int32_t kMsgUpdate = HOST_MSG_UPDATE;
constexpr int32_t kMsgDescriptionCommand = HOST_MSG_DESCRIPTION_COMMAND;
constexpr int32_t kSplineClosed = HOST_SPLINEOBJECT_CLOSED;

HostAtom* NewLineObject(const std::vector<HostVector>& points,
                        const std::vector<int32_t>& segmentCounts);
HostAtom* NewObject(int32_t type);  // empty object of any type, with a container
void FreeObject(HostAtom* op);
std::vector<HostVector> Points(const HostAtom* op);
std::vector<HostSegment> Segments(const HostAtom* op);
// The point counts of a line object's segment records, for a host reading back what a modifier
// wrote: false when a count is negative or the counts run past the points present. total gets
// the points the records cover.
bool SegmentCounts(const HostAtom* op, std::vector<int32_t>* counts, int64_t* total);
void SetPoints(HostAtom* op, const std::vector<HostVector>& points);  // replaces all points
void SetSegments(HostAtom* op, const std::vector<HostSegment>& segments);
void SetClosed(HostAtom* op, bool closed);  // container id kSplineClosed
int64_t UpdateCount(const HostAtom* op);    // MSG_UPDATE messages received
int64_t MessageCount(const HostAtom* op, int32_t type);
void SetResizeFails(HostAtom* op, bool fails);  // ResizeObject then fails for this object
// ResizeObject calls refused for want of room (the object limit, the system's memory, the above).
int64_t ResizesRefused(const HostAtom* op);

HostContainer* Container(HostAtom* op);
enum class ValueType { Long, Bool, Real };
bool Has(const HostContainer* bc, int32_t id);
void Erase(HostContainer* bc, int32_t id);
std::optional<ValueType> TypeOf(const HostContainer* bc, int32_t id);

// Host objects alive, of every kind: scene objects, measurers, bitmaps, strings, file names,
// description IDs, resources and draw targets.
int64_t LiveObjects();

// ---- Memory tracking and fault injection -----------------------------------------------------
struct MemoryStats {
    int64_t liveBlocks;
    int64_t liveBytes;
    int64_t totalAllocations;  // successful allocations and reallocations so far
    int64_t peakBytes;
};
MemoryStats Memory();
void ResetPeak();                           // peak := current live bytes
std::vector<std::string> LiveBlockSites();  // "file:line" of each live block
void FailAllocationNumber(int64_t n);       // the n-th allocation call from now fails; 0 = off
// Every allocation whose source file equals file (or whose base name does) fails; "" = off.
void FailAllocationsFrom(const std::string& file);
void FailObjectAllocations(int64_t n);  // n-th SplineAlloc / measurer Alloc / bitmap Alloc fails
int64_t AllocationCount();              // calls of AllocZeroed/AllocBlock/ReallocBlock so far
int64_t ObjectAllocationCount();  // calls of SplineAlloc / measurer Alloc / bitmap Alloc so far
// Single blocks larger than bytes are refused (default 2^40), as a host refuses what it cannot
// allocate; lets tests and fuzzers hand the plug-in huge counts and get fast refusals.
void SetMaxBlockSize(int64_t bytes);
int64_t MaxBlockSize();
void ResetFaults();  // also restores the default block limit
std::vector<std::pair<int32_t, std::string>> StopReports();
void ClearStopReports();

// ---- Call recorder ----------------------------------------------------------------------------
// op is "<group>.<entry>", e.g. "object.GetType". handle is the first handle argument, or the
// result for operations that create one. Memory and text-carrying calls put their file name or
// text in text.
struct Call {
    std::string op;
    std::vector<int64_t> ints;
    std::vector<double> reals;
    const void* handle = nullptr;
    std::string text;
};
void StartRecording();  // clears earlier calls
std::vector<Call> StopRecording();

// ---- Where the points of a modify call come from
// ------------------------------------------------- A host sees each point the plug-in samples: the
// segment's work spline it is measured on, the uniform parameter it asks the measurer for and the
// spline parameter it evaluates. Traced on one thread for one modify call, those tell for each
// point of the output where on the line object it lies.
struct Sample {
    int32_t segment;  // the line object's segment whose points the work spline holds
    double uniform;   // the fraction of the segment's length asked for (UniformToNatural)
    double position;  // where the evaluated point lies on the segment's points: a point index
                      // and a fraction, 2.25 a quarter of the way from point 2 to point 3 (on a
                      // closed work spline, the edge after the last point leads to point 0)
};

// Traces the samples taken on this thread while it lives, for a modify call on line (whose
// points and segments it reads when a work spline is measured). Not nested.
class SampleTrace {
public:
    explicit SampleTrace(const HostAtom* line);
    ~SampleTrace();
    SampleTrace(const SampleTrace&) = delete;
    SampleTrace& operator=(const SampleTrace&) = delete;
    // The samples of the output points, in order, when every point of the line object now holds
    // exactly the position its sample evaluated to (each output point is one sample); else
    // none, as for a call that wrote points it did not sample.
    std::vector<Sample> Take(const HostAtom* dashed);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// ---- Strings and file names ----------------------------------------------------------------
std::string Text(const HostStringData* s);
void SetText(HostStringData* s, const std::string& text);
std::string Path(const HostFilenameData* f);
void SetPath(HostFilenameData* f, const std::string& path);
std::vector<std::string> OpenedAddresses();  // what OpenHTML was given, in order
void ClearOpenedAddresses();

// ---- Bitmaps ------------------------------------------------------------------------------------
// Pixels row by row from the top, packed as TIFFReadRGBAImage packs them (R in the low byte).
std::vector<uint32_t> Pixels(const HostBitmap* bmp);
// Writes an 8-bit RGBA TIFF in the same packing; for tests and tools.
bool WriteTiff(const std::string& path, int32_t width, int32_t height,
               const std::vector<uint32_t>& pixels);

// ---- Viewport -----------------------------------------------------------------------------------
struct DrawnHandle {
    HostVector position;
    int32_t type;
};
HostBaseDraw* NewBaseDraw();
void FreeBaseDraw(HostBaseDraw* bd);
std::vector<DrawnHandle> DrawnHandles(const HostBaseDraw* bd);

// ---- Plug-in loading and the host's registry ------------------------------------------------
// The value types a description gives its parameters ("LONG", "BOOL", "REAL", "BUTTON" in the
// resource). A button stores no value.
enum class ParameterType { Long, Bool, Real, Button };
const char* ParameterTypeName(ParameterType type);  // the resource's spelling

struct Parameter {
    int32_t id;
    std::string name;  // the description's identifier, e.g. "KORRAND_COUNT"
    ParameterType type;
    std::string label;
    std::optional<double> def, min, max;
    std::string why;      // the reason for the limits
    std::string help;     // what the parameter does, in its units: a host's tooltip or option help
    std::string off;      // a boolean's name for its false state ("open"), or empty
    bool hidden = false;  // stored with the object, but not for a host to show or set
    std::string key;      // the host-side name every host uses (ParameterKey)
};
struct DescriptionResource {
    std::string name;
    std::vector<Parameter> parameters;
};
// Reads and validates <pluginFolder>/res/description/<name>.json.
std::optional<DescriptionResource> ReadDescription(const std::string& pluginFolder,
                                                   const std::string& name, std::string* error);

struct Registration {
    int32_t version, kind, id;
    std::string name;
    HostObjectPluginRecord record;  // icon fields are null: the host keeps its own copy below
    int32_t recordSize;
    bool hasIcon;
    int32_t iconWidth, iconHeight;
    std::string description;  // registered description name, empty when none
    std::vector<uint32_t> iconPixels;
};
std::vector<Registration> Registry();
void ClearRegistry();  // also forgets the refusals below
// Why RegisterPlugin refused each registration it refused (a record of another platform's
// width, of another kind, or none), in order.
std::vector<std::string> RefusedRegistrations();

// Calls an operation entry of a registered record (HOST_OPERATION) on the plug-in's object obj,
// reading the entry as host_abi.h says a host of this platform reads it.
template <class Entry, class... Args>
auto CallOperation(const Entry& entry, HostNodeData* obj, Args... args) {
    auto code = entry.function;
    HostNodeData* self = obj;
#if HOST_OPERATION_ENTRY_SIZE == 16
    self = reinterpret_cast<HostNodeData*>(reinterpret_cast<char*>(obj) + entry.adjust);
    uintptr_t function;
    std::memcpy(&function, &entry.function, sizeof function);
    if ((function & 1u) != 0) {
        const char* table;
        std::memcpy(&table, self, sizeof table);
        std::memcpy(&code, table + (function - 1u), sizeof code);
    }
#endif
    return code(self, args...);
}

// How plug-in libraries are opened: this platform's own loader, unless another is installed (a
// test runs a library of another platform's format through a loader of its own). Set it before
// loading; a loaded plug-in keeps the loader it was opened with.
struct LibraryLoader {
    const char* suffix;  // the library file's suffix, e.g. ".dylib"
    void* (*open)(const std::string& path, std::string* error);  // null on failure, error set
    void* (*find)(void* library, const char* name);              // name as C spells it: "c4d_main"
    void (*close)(void* library);
};
void SetLibraryLoader(const LibraryLoader* loader);  // nullptr: this platform's own

std::string PluginLibraryName();  // "KorrandModifier" plus the loader's suffix

class Plugin {
public:
    static std::unique_ptr<Plugin> Load(const std::string& pluginFolder, std::string* error);
    ~Plugin();  // Shutdown, drop this plug-in's registrations, unload
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Calls c4d_main. Registrations made during any call belong to this plug-in, and a
    // description registered without a resource is looked up in its folder.
    int32_t Main(int32_t action, void* p1, void* p2, void* p3);
    // Action 1 (table, library file name), plug-in message 1, action 2. Fails when action 1
    // does not return 1. Only once per loaded library.
    bool Start(std::string* error);
    bool Start(const HostFunctionTable* table, std::string* error);  // a tampered table
    void Shutdown();  // action 3, when an initialisation succeeded and no action 3 followed
    // This plug-in's registration of id; the pointer stays valid while the plug-in is loaded.
    const Registration* Find(int32_t id) const;

    struct Instance {
        HostAtom* node;
        HostNodeData* data;
        const Registration* reg;
    };
    std::optional<Instance> Create(int32_t id);
    void Destroy(Instance& inst);
    bool Modify(const Instance& inst, HostAtom* op);
    int32_t Message(const Instance& inst, int32_t type, void* data);
    std::string Folder() const;
    std::string LibraryPath() const;

private:
    Plugin() = default;
    const LibraryLoader* loader_ = nullptr;
    void* library_ = nullptr;
    HostPluginMain main_ = nullptr;
    std::string folder_, path_;
    bool startTried_ = false, initialised_ = false;
    std::deque<Registration> registrations_;  // grows only: pointers handed out stay valid
};

}  // namespace hostmodel

#endif
