// The bridge is a thin host: it keeps the host model's opened modifier plug-in, and turns
// C calls into the model's calls. Every exception stops at the C boundary.
#include "korrand_bridge.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "host_model.h"
#include "line_dash.h"
#include "modifier_plugin.h"

struct KorrandPlugin {
    std::unique_ptr<hostmodel::ModifierPlugin> modifier;
    std::mutex mutex;  // guards instances
    std::vector<KorrandInstance*> instances;
};

namespace {
// What one chunk of line objects came out with.
struct Part {
    std::vector<int32_t> counts;
    std::vector<HostVector> points;
    std::vector<hostmodel::Sample> samples;
    bool traced = true;  // every point's source is known
    int32_t result = 1;  // every object's modify answered success
};
}  // namespace

struct KorrandInstance {
    KorrandPlugin* owner = nullptr;
    // The modifier, its settings (the values korrand_set stores, as a scene stores them with the
    // object) and the line object it dashes, kept for its result.
    std::unique_ptr<hostmodel::LineDasher> dasher;
    // The last result of korrand_dash_objects: its dashes' point counts and points, where each
    // point came from (empty when that is not known), and where the input's segments start.
    std::vector<int32_t> counts;
    std::vector<HostVector> points;
    std::vector<hostmodel::Sample> samples;
    // Each chunk's dashes before they are joined, kept with their storage between calls: a
    // large result then takes no fresh pages.
    std::vector<Part> parts;
    std::vector<int64_t> start;  // segment i's points are start[i] .. start[i + 1] - 1
    bool traced = true;          // korrand_set_traced: whether dashing records the samples
    bool lastTraced = true;      // whether the last result was dashed traced
    bool known = true;           // the last result's samples are all there
    std::string opened;
};

namespace {

static_assert(sizeof(HostVector) == 3 * sizeof(double), "points are packed triples");

// A plain buffer, not a std::string: a thread-local with a destructor, run as a thread ends,
// made threads of the Windows DLL hang at join under Wine. Messages are one line; a longer one
// is cut at a character boundary.
thread_local char lastError[2048];

void SetError(const std::string& message) {
    std::size_t n = std::min(message.size(), sizeof lastError - 1);
    if (n < message.size())
        while (n > 0 && (static_cast<unsigned char>(message[n]) & 0xC0) == 0x80) --n;
    std::memcpy(lastError, message.data(), n);
    lastError[n] = '\0';
}

int32_t Fail(int32_t status, const std::string& message) {
    SetError(message);
    return status;
}

int32_t Ok() {
    lastError[0] = '\0';
    return KORRAND_OK;
}

int32_t StatusOf(const hostmodel::DashError& e) {
    switch (e.kind()) {
        case hostmodel::DashError::Kind::Input:
            return KORRAND_ERROR_ARGUMENT;
        case hostmodel::DashError::Kind::Value:
            return KORRAND_ERROR_VALUE;
        case hostmodel::DashError::Kind::Memory:
            return KORRAND_ERROR_MEMORY;
        case hostmodel::DashError::Kind::Plugin:
            break;
    }
    return KORRAND_ERROR_PLUGIN;
}

// Runs body, turning an exception into a status: the caller is C and must never see one.
template <class Body>
int32_t Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(KORRAND_ERROR_MEMORY, "out of memory");
    } catch (const hostmodel::DashError& e) {
        return Fail(StatusOf(e), e.what());
    } catch (const std::exception& e) {
        return Fail(KORRAND_ERROR_PLUGIN, e.what());
    } catch (...) {
        return Fail(KORRAND_ERROR_PLUGIN, "unexpected failure");
    }
}

// Points line at the instance's last result, as it now is (its result flag left as it was).
void ShowResult(const KorrandInstance& instance, KorrandLine* line) {
    line->points = instance.points.empty() ? nullptr : &instance.points[0].x;
    line->point_count = static_cast<int64_t>(instance.points.size());
    line->counts = instance.counts.data();
    line->segment_count = static_cast<int32_t>(instance.counts.size());
}

void* Pointer(const void* record, int32_t offset) {
    void* p;
    std::memcpy(&p, static_cast<const char*>(record) + offset, sizeof p);
    return p;
}

// Checks a host's segment list against counts without writing: the layout is one a record can
// have, and the list holds exactly one record per count (per non-zero count when skipEmpty),
// each with that many points and, when it has points, a pointer to them.
int32_t CheckList(const KorrandSegmentList& l, const void* first, const int32_t* counts, size_t n,
                  bool skipEmpty) {
    const auto aligned = [](int32_t offset, size_t size) {
        return offset >= 0 && offset % static_cast<int32_t>(size) == 0;
    };
    if (!aligned(l.next_offset, sizeof(void*)) || !aligned(l.points_offset, sizeof(void*)) ||
        !aligned(l.count_offset, sizeof(int32_t)) || l.point_size < 16 || l.point_size % 4 != 0)
        return Fail(KORRAND_ERROR_ARGUMENT, "the list's layout is not one a record can have");
    const void* record = first;
    int64_t index = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t c = counts[i];
        if (c == 0 && skipEmpty) continue;
        if (record == nullptr)
            return Fail(KORRAND_ERROR_ARGUMENT, "the list ends after " + std::to_string(index) +
                                                    " records, more segments are expected");
        int32_t held;
        std::memcpy(&held, static_cast<const char*>(record) + l.count_offset, sizeof held);
        if (held != c || (c > 0 && Pointer(record, l.points_offset) == nullptr))
            return Fail(KORRAND_ERROR_ARGUMENT, "record " + std::to_string(index) + " holds " +
                                                    std::to_string(held) + " points, the segment " +
                                                    std::to_string(c));
        record = Pointer(record, l.next_offset);
        ++index;
    }
    if (record != nullptr)
        return Fail(KORRAND_ERROR_ARGUMENT,
                    "the list has more than the " + std::to_string(index) + " segments expected");
    return KORRAND_OK;
}

// Below this many input points a call is dashed on the calling thread: starting threads would
// cost more than they save.
constexpr int64_t kThreadedPoints = 100000;

// The failure of one thread: the object it was at, and a status or an exception.
struct Failure {
    int64_t object = -1;
    int32_t status = KORRAND_OK;
    std::string message;
    std::exception_ptr exception;
};

// Dashes line object k into part with scratch (the instance's values in layers, the object's
// own over them). False, with failure filled, for a setting the description lacks or a
// modifier that leaves something a host cannot read.
bool DashObject(hostmodel::ModifierPlugin& modifier, hostmodel::LineDasher& scratch,
                hostmodel::LineSettings& layers, std::vector<int32_t>& mineCounts,
                const float* points, int32_t stride, const int32_t* counts,
                const std::vector<int64_t>& start, const int32_t* segments,
                const KorrandLineObject& o, const int32_t* setting_ids,
                const double* setting_values, bool traced, int32_t k, int32_t& dashes, Part& part,
                Failure& failure) {
    const int32_t* mine = segments + o.first_segment;
    layers.object = "line object " + std::to_string(k);
    layers.decided.clear();
    for (int32_t i = 0; i < o.setting_count; ++i) {
        const int32_t id = setting_ids[o.first_setting + i];
        const hostmodel::Parameter* p = modifier.ById(id);
        if (p == nullptr || p->type == hostmodel::ParameterType::Button) {
            failure.status = KORRAND_ERROR_VALUE;
            failure.message = layers.object + ": no parameter with id " + std::to_string(id);
            return false;
        }
        layers.decided[p->key] = setting_values[o.first_setting + i];
    }
    mineCounts.clear();
    int64_t total = 0;
    for (int32_t i = 0; i < o.segment_count; ++i) {
        mineCounts.push_back(counts[mine[i]]);
        total += counts[mine[i]];
    }
    try {
        scratch.Apply(layers);
        HostVector* dst = scratch.Input(mineCounts.data(), o.segment_count, total);
        for (int32_t i = 0; i < o.segment_count; ++i) {
            const float* p = points + start[static_cast<size_t>(mine[i])] * stride;
            for (int32_t c = 0; c < counts[mine[i]]; ++c, p += stride)
                *dst++ = HostVector{p[0], p[1], p[2]};
        }
        const hostmodel::Dashes& out = scratch.Dash(traced);
        dashes = static_cast<int32_t>(out.counts.size());
        part.counts.insert(part.counts.end(), out.counts.begin(), out.counts.end());
        if (out.pointCount > 0)
            part.points.insert(part.points.end(), out.points, out.points + out.pointCount);
        if (!out.answered) part.result = 0;
        // Where each point came from, in the caller's numbering of the segments.
        part.traced =
            part.traced && traced && out.samples.size() == static_cast<size_t>(out.pointCount);
        if (part.traced)
            for (hostmodel::Sample s : out.samples) {
                s.segment = mine[s.segment];
                part.samples.push_back(s);
            }
    } catch (const hostmodel::DashError& e) {
        const std::string what = e.what();
        failure.status = StatusOf(e);
        failure.message =
            what.rfind(layers.object + ": ", 0) == 0 ? what : layers.object + ": " + what;
        return false;
    }
    return true;
}
}  // namespace

extern "C" {

int32_t korrand_bridge_version(void) {
    return KORRAND_BRIDGE_VERSION;
}

int32_t korrand_bridge_version_is_compatible(int32_t wanted) {
    return wanted >= KORRAND_BRIDGE_OLDEST_COMPATIBLE && wanted <= KORRAND_BRIDGE_VERSION ? 1 : 0;
}

const char* korrand_last_error(void) {
    return lastError;
}

int32_t korrand_open(const char* folder, KorrandPlugin** plugin) {
    if (plugin == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    *plugin = nullptr;
    if (folder == nullptr || *folder == '\0')
        return Fail(KORRAND_ERROR_ARGUMENT, "no plug-in folder given");
    return Guarded([&] {
        auto p = std::make_unique<KorrandPlugin>();
        std::string error;
        p->modifier = hostmodel::ModifierPlugin::Open(folder, &error);
        if (!p->modifier) return Fail(KORRAND_ERROR_PLUGIN, error);
        hostmodel::SetMaxBlockSize(int64_t{1} << 30);
        *plugin = p.release();
        return Ok();
    });
}

void korrand_close(KorrandPlugin* plugin) {
    if (plugin == nullptr) return;
    std::vector<KorrandInstance*> left;
    {
        std::lock_guard<std::mutex> lock(plugin->mutex);
        left.swap(plugin->instances);
    }
    for (KorrandInstance* inst : left) {
        inst->owner = nullptr;  // already unlisted
        delete inst;
    }
    delete plugin;
    lastError[0] = '\0';
}

int32_t korrand_plugin_id(const KorrandPlugin* plugin) {
    return plugin != nullptr ? plugin->modifier->registration().id : 0;
}

const char* korrand_plugin_name(const KorrandPlugin* plugin) {
    return plugin != nullptr ? plugin->modifier->registration().name.c_str() : "";
}

int32_t korrand_parameter_count(const KorrandPlugin* plugin) {
    return plugin != nullptr ? static_cast<int32_t>(plugin->modifier->parameters().size()) : 0;
}

int32_t korrand_parameter(const KorrandPlugin* plugin, int32_t index, KorrandParameter* parameter) {
    if (plugin == nullptr || parameter == nullptr)
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (index < 0 || index >= korrand_parameter_count(plugin))
        return Fail(KORRAND_ERROR_ARGUMENT, "no parameter " + std::to_string(index));
    const hostmodel::Parameter& p = plugin->modifier->parameters()[static_cast<size_t>(index)];
    KorrandParameter out{};
    out.id = p.id;
    switch (p.type) {
        case hostmodel::ParameterType::Long:
            out.type = KORRAND_TYPE_LONG;
            break;
        case hostmodel::ParameterType::Bool:
            out.type = KORRAND_TYPE_BOOL;
            break;
        case hostmodel::ParameterType::Real:
            out.type = KORRAND_TYPE_REAL;
            break;
        case hostmodel::ParameterType::Button:
            out.type = KORRAND_TYPE_BUTTON;
            break;
    }
    out.name = p.name.c_str();
    out.label = p.label.c_str();
    out.has_default = p.def.has_value();
    out.has_min = p.min.has_value();
    out.has_max = p.max.has_value();
    out.default_value = p.def.value_or(0.0);
    out.min = p.min.value_or(0.0);
    out.max = p.max.value_or(0.0);
    out.key = p.key.c_str();
    out.help = p.help.c_str();
    out.off = p.off.c_str();
    out.hidden = p.hidden ? 1 : 0;
    *parameter = out;
    return Ok();
}

void korrand_set_block_limit(int64_t bytes) {
    hostmodel::SetMaxBlockSize(bytes);
}

void korrand_host_alive(int64_t* blocks, int64_t* objects) {
    if (blocks != nullptr) *blocks = hostmodel::Memory().liveBlocks;
    if (objects != nullptr) *objects = hostmodel::LiveObjects();
}

int32_t korrand_instance_create(KorrandPlugin* plugin, KorrandInstance** instance) {
    if (instance == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    *instance = nullptr;
    if (plugin == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null plug-in");
    return Guarded([&] {
        auto inst = std::make_unique<KorrandInstance>();
        std::lock_guard<std::mutex> lock(plugin->mutex);
        plugin->instances.reserve(plugin->instances.size() + 1);  // the push below cannot throw
        inst->dasher = std::make_unique<hostmodel::LineDasher>(*plugin->modifier);
        inst->owner = plugin;
        plugin->instances.push_back(inst.get());
        *instance = inst.release();
        return Ok();
    });
}

void korrand_instance_destroy(KorrandInstance* instance) {
    if (instance == nullptr) return;
    KorrandPlugin* p = instance->owner;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        p->instances.erase(std::remove(p->instances.begin(), p->instances.end(), instance),
                           p->instances.end());
    }
    delete instance;
}

int32_t korrand_set(KorrandInstance* instance, int32_t id, double value) {
    if (instance == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null instance");
    const hostmodel::Parameter* p = instance->owner->modifier->ById(id);
    if (p == nullptr || p->type == hostmodel::ParameterType::Button)
        return Fail(KORRAND_ERROR_VALUE, "no parameter with id " + std::to_string(id));
    const std::string why = hostmodel::CheckSetting(*p, value);
    if (!why.empty()) return Fail(KORRAND_ERROR_VALUE, p->key + " " + why);
    hostmodel::Store(instance->dasher->container(), *p, hostmodel::SettingValue(*p, value));
    return Ok();
}

int32_t korrand_get(const KorrandInstance* instance, int32_t id, double* value) {
    if (instance == nullptr || value == nullptr)
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    const hostmodel::Parameter* p = instance->owner->modifier->ById(id);
    if (p == nullptr || p->type == hostmodel::ParameterType::Button)
        return Fail(KORRAND_ERROR_VALUE, "no parameter with id " + std::to_string(id));
    *value = hostmodel::Load(instance->dasher->container(), *p);
    return Ok();
}

int32_t korrand_command(KorrandInstance* instance, int32_t id, const char** opened) {
    if (instance == nullptr || opened == nullptr)
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    *opened = "";
    return Guarded([&] {
        // The host's list of opened addresses is shared: commands take turns, so the
        // addresses added during one belong to it.
        static std::mutex serial;
        std::lock_guard<std::mutex> lock(serial);
        const HostFunctionTable* t = hostmodel::Table();
        const size_t before = hostmodel::OpenedAddresses().size();
        HostDescIDData element{};
        t->descid.InitLevel(&element, id, 0, 0);
        HostDescriptionCommand command{&element};
        instance->owner->modifier->plugin().Message(instance->dasher->instance(),
                                                    hostmodel::kMsgDescriptionCommand, &command);
        t->descid.Free(&element);
        const std::vector<std::string> all = hostmodel::OpenedAddresses();
        instance->opened.clear();
        for (size_t i = before; i < all.size(); ++i) {
            if (!instance->opened.empty()) instance->opened += '\n';
            instance->opened += all[i];
        }
        *opened = instance->opened.c_str();
        return Ok();
    });
}

int32_t korrand_dash_objects(KorrandInstance* instance, const float* points, int32_t stride,
                             const int32_t* counts, int32_t segment_count, const int32_t* segments,
                             const KorrandLineObject* objects, int32_t object_count,
                             const int32_t* setting_ids, const double* setting_values,
                             int32_t* dashes, KorrandLine* line) {
    if (instance == nullptr || line == nullptr || segment_count < 0 || object_count < 0 ||
        (segment_count > 0 && counts == nullptr) ||
        (object_count > 0 && (objects == nullptr || dashes == nullptr)))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (stride < 3) return Fail(KORRAND_ERROR_ARGUMENT, "a point stride below 3");
    return Guarded([&]() -> int32_t {
        // Where each input segment's points start, checked once for every object.
        std::vector<int64_t> start(static_cast<size_t>(segment_count) + 1, 0);
        for (int32_t i = 0; i < segment_count; ++i) {
            if (counts[i] < 0) return Fail(KORRAND_ERROR_ARGUMENT, "negative segment count");
            start[static_cast<size_t>(i) + 1] = start[static_cast<size_t>(i)] + counts[i];
        }
        if (start.back() > 0 && points == nullptr)
            return Fail(KORRAND_ERROR_ARGUMENT, "null points");
        for (int32_t k = 0; k < object_count; ++k) {
            const KorrandLineObject& o = objects[k];
            if (o.first_segment < 0 || o.segment_count < 0 || o.first_setting < 0 ||
                o.setting_count < 0 || (o.segment_count > 0 && segments == nullptr) ||
                (o.setting_count > 0 && (setting_ids == nullptr || setting_values == nullptr)))
                return Fail(KORRAND_ERROR_ARGUMENT,
                            "line object " + std::to_string(k) + " is not laid out as expected");
            for (int32_t i = 0; i < o.segment_count; ++i) {
                const int32_t s = segments[static_cast<int64_t>(o.first_segment) + i];
                if (s < 0 || s >= segment_count)
                    return Fail(KORRAND_ERROR_ARGUMENT, "line object " + std::to_string(k) +
                                                            " names segment " + std::to_string(s) +
                                                            " of " + std::to_string(segment_count));
            }
        }
        // Each object is dashed by a modifier of the call's own, holding the instance's values
        // as stored and the object's settings over them, as the host decides them: the instance
        // is left as it was, also on failure.
        hostmodel::LineSettings layers;
        const HostContainer* own = instance->dasher->container();
        for (const hostmodel::Parameter& p : instance->owner->modifier->parameters())
            if (p.type != hostmodel::ParameterType::Button)
                layers.stored.push_back(
                    {p.name, hostmodel::SettingValue(p, hostmodel::Load(own, p))});
        instance->counts.clear();  // no partial result for the readers
        instance->points.clear();
        instance->samples.clear();
        const bool traced = instance->traced;
        // Objects are dashed in chunks, on several threads for a large curve, each thread with
        // modifiers of its own, as a host evaluates many splines at once; the chunks are joined
        // in order, so the result is the same bits as from one thread.
        constexpr int32_t kChunk = 16;
        const int32_t chunks = (object_count + kChunk - 1) / kChunk;
        std::vector<Part>& parts = instance->parts;
        parts.resize(static_cast<size_t>(chunks));
        for (Part& part : parts) {
            part.counts.clear();
            part.points.clear();
            part.samples.clear();
            part.traced = true;
            part.result = 1;
        }
        const unsigned threads =
            start.back() < kThreadedPoints
                ? 1u
                : static_cast<unsigned>(std::clamp<int64_t>(
                      std::min<int64_t>(std::thread::hardware_concurrency(), chunks), 1, 8));
        std::atomic<int32_t> next{0};
        std::atomic<bool> failed{false};
        std::vector<Failure> failures(threads);
        const auto run = [&](unsigned w) {
            Failure& failure = failures[w];
            try {
                hostmodel::LineDasher scratch(*instance->owner->modifier);
                hostmodel::LineSettings mine = layers;
                std::vector<int32_t> mineCounts;
                // Chunks are taken in order and finished once taken, so every object before a
                // failing one is dashed too and the lowest failure is reported whatever the
                // timing.
                while (!failed.load(std::memory_order_relaxed)) {
                    const int32_t c = next.fetch_add(1);
                    if (c >= chunks) return;
                    Part& part = parts[static_cast<size_t>(c)];
                    for (int32_t k = c * kChunk; k < std::min(object_count, (c + 1) * kChunk);
                         ++k) {
                        failure.object = k;
                        if (!DashObject(*instance->owner->modifier, scratch, mine, mineCounts,
                                        points, stride, counts, start, segments, objects[k],
                                        setting_ids, setting_values, traced, k, dashes[k], part,
                                        failure)) {
                            failed = true;
                            return;
                        }
                    }
                }
                failure.object = -1;
            } catch (...) {
                failure.exception = std::current_exception();
                failed = true;
            }
        };
        std::vector<std::thread> pool;
        for (unsigned w = 1; w < threads; ++w) pool.emplace_back(run, w);
        run(0);
        for (std::thread& t : pool) t.join();
        const Failure* first = nullptr;
        for (const Failure& f : failures)
            if ((f.exception || f.status != KORRAND_OK) &&
                (first == nullptr || f.object < first->object))
                first = &f;
        if (first != nullptr) {
            if (first->exception) std::rethrow_exception(first->exception);
            return Fail(first->status, first->message);
        }
        size_t dashCount = 0, pointCount = 0;
        bool known = traced;
        int32_t result = 1;
        for (const Part& part : parts) {
            dashCount += part.counts.size();
            pointCount += part.points.size();
            known = known && part.traced;
            if (part.result == 0) result = 0;
        }
        instance->counts.reserve(dashCount);
        instance->points.reserve(pointCount);
        if (known) instance->samples.reserve(pointCount);
        for (const Part& part : parts) {
            instance->counts.insert(instance->counts.end(), part.counts.begin(), part.counts.end());
            instance->points.insert(instance->points.end(), part.points.begin(), part.points.end());
            if (known)
                instance->samples.insert(instance->samples.end(), part.samples.begin(),
                                         part.samples.end());
        }
        instance->known = known;
        instance->lastTraced = traced;
        instance->start.swap(start);
        ShowResult(*instance, line);
        line->result = result;
        return Ok();
    });
}

void korrand_set_traced(KorrandInstance* instance, int32_t traced) {
    if (instance != nullptr) instance->traced = traced != 0;
}

int32_t korrand_group_segments(const KorrandInstance* instance, const int32_t* closed,
                               int32_t segment_count, int32_t own_counts, int32_t* segments,
                               KorrandLineObject* objects, int32_t* setting_ids,
                               double* setting_values, int32_t* object_count) {
    if (instance == nullptr || object_count == nullptr || segment_count < 0 ||
        (segment_count > 0 && (segments == nullptr || objects == nullptr)))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    const hostmodel::ModifierPlugin& modifier = *instance->owner->modifier;
    const hostmodel::Parameter* closedParameter = modifier.ByKey("closed");
    const bool perSegment = closed != nullptr && closedParameter != nullptr;
    if (perSegment && segment_count > 0 && (setting_ids == nullptr || setting_values == nullptr))
        return Fail(KORRAND_ERROR_ARGUMENT, "null settings");
    return Guarded([&] {
        std::vector<bool> kinds;
        if (perSegment)
            for (int32_t i = 0; i < segment_count; ++i) kinds.push_back(closed[i] != 0);
        const auto groups = hostmodel::GroupSegments(
            segment_count, kinds, own_counts != 0,
            hostmodel::SettingsRelateSegments(modifier, instance->dasher->container()));
        int32_t at = 0, set = 0;
        for (size_t k = 0; k < groups.size(); ++k) {
            const hostmodel::SegmentGroup& g = groups[k];
            KorrandLineObject& o = objects[k];
            o = KorrandLineObject{at, static_cast<int32_t>(g.segments.size()), set, 0};
            for (const int32_t s : g.segments) segments[at++] = s;
            if (g.closed) {
                setting_ids[set] = closedParameter->id;
                setting_values[set++] = *g.closed ? 1.0 : 0.0;
                o.setting_count = 1;
            }
        }
        *object_count = static_cast<int32_t>(groups.size());
        return Ok();
    });
}

int32_t korrand_segment_lengths(const float* points, int32_t stride, const int32_t* counts,
                                int32_t segment_count, const int32_t* closed, const double* matrix,
                                double* lengths) {
    if (segment_count < 0 || (segment_count > 0 && (counts == nullptr || lengths == nullptr)))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (stride < 3) return Fail(KORRAND_ERROR_ARGUMENT, "a point stride below 3");
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const double* m = matrix != nullptr ? matrix : identity;
    const auto at = [&](const float* p) {
        const double x = p[0], y = p[1], z = p[2];
        return HostVector{m[0] * x + m[1] * y + m[2] * z + m[3],
                          m[4] * x + m[5] * y + m[6] * z + m[7],
                          m[8] * x + m[9] * y + m[10] * z + m[11]};
    };
    const auto distance = [](const HostVector& a, const HostVector& b) {
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    const float* p = points;
    for (int32_t i = 0; i < segment_count; ++i) {
        if (counts[i] < 0) return Fail(KORRAND_ERROR_ARGUMENT, "negative segment count");
        if (counts[i] > 0 && p == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null points");
        double length = 0;
        if (counts[i] > 0) {
            const HostVector first = at(p);
            HostVector last = first;
            for (int32_t k = 1; k < counts[i]; ++k) {
                const HostVector next = at(p + static_cast<int64_t>(k) * stride);
                length += distance(last, next);
                last = next;
            }
            if (closed != nullptr && closed[i] == 1) length += distance(last, first);
            p += static_cast<int64_t>(counts[i]) * stride;
        }
        lengths[i] = length;
    }
    return Ok();
}

int32_t korrand_period_count(double length, double period) {
    return static_cast<int32_t>(hostmodel::PeriodCount(length, period));
}

namespace {
int32_t Room(int64_t capacity, int64_t needed, const char* what) {
    return capacity >= needed
               ? KORRAND_OK
               : Fail(KORRAND_ERROR_ARGUMENT, "room for " + std::to_string(capacity) + " " + what +
                                                  ", " + std::to_string(needed) + " needed");
}

int32_t Traced(const KorrandInstance* instance) {
    if (!instance->lastTraced)
        return Fail(KORRAND_ERROR_PLUGIN,
                    "where the dashes' points lie is not known: they were dashed untraced");
    return instance->known && instance->samples.size() == instance->points.size()
               ? KORRAND_OK
               : Fail(KORRAND_ERROR_PLUGIN,
                      "where the dashes' points lie is not known: the plug-in wrote points it "
                      "did not sample");
}
}  // namespace

int32_t korrand_result_xyz(const KorrandInstance* instance, float* xyz, int64_t capacity) {
    if (instance == nullptr || (xyz == nullptr && capacity > 0))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    const int64_t n = static_cast<int64_t>(instance->points.size());
    if (Room(capacity, 3 * n, "floats") != KORRAND_OK) return KORRAND_ERROR_ARGUMENT;
    for (int64_t i = 0; i < n; ++i) {
        const HostVector& p = instance->points[static_cast<size_t>(i)];
        xyz[3 * i] = static_cast<float>(p.x);
        xyz[3 * i + 1] = static_cast<float>(p.y);
        xyz[3 * i + 2] = static_cast<float>(p.z);
    }
    return Ok();
}

int32_t korrand_result_edges(const KorrandInstance* instance, int32_t* edges, int64_t capacity) {
    if (instance == nullptr || (edges == nullptr && capacity > 0))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    const int64_t n = static_cast<int64_t>(instance->points.size());
    const int64_t needed = 2 * (n - static_cast<int64_t>(instance->counts.size()));
    if (n > INT32_MAX) return Fail(KORRAND_ERROR_ARGUMENT, "too many points for int32 indices");
    if (Room(capacity, needed, "indices") != KORRAND_OK) return KORRAND_ERROR_ARGUMENT;
    int32_t at = 0;
    int64_t e = 0;
    for (const int32_t c : instance->counts) {
        for (int32_t k = 0; k + 1 < c; ++k) {
            edges[e++] = at + k;
            edges[e++] = at + k + 1;
        }
        at += c;
    }
    return Ok();
}

int32_t korrand_result_sources(const KorrandInstance* instance, int32_t* segment, double* uniform,
                               double* position, int64_t capacity) {
    if (instance == nullptr) return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    const int64_t n = static_cast<int64_t>(instance->samples.size());
    if (Room(capacity, n, "points") != KORRAND_OK) return KORRAND_ERROR_ARGUMENT;
    for (int64_t i = 0; i < n; ++i) {
        const hostmodel::Sample& s = instance->samples[static_cast<size_t>(i)];
        if (segment != nullptr) segment[i] = s.segment;
        if (uniform != nullptr) uniform[i] = s.uniform;
        if (position != nullptr) position[i] = s.position;
    }
    return Ok();
}

int32_t korrand_result_carry(const KorrandInstance* instance, const float* values, int32_t width,
                             int64_t input_points, float* out, int64_t capacity) {
    if (instance == nullptr || width < 1 || (values == nullptr && input_points > 0) ||
        (out == nullptr && capacity > 0))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    if (instance->start.empty() || instance->start.back() != input_points)
        return Fail(KORRAND_ERROR_ARGUMENT,
                    "values for " + std::to_string(input_points) + " points, the input had " +
                        std::to_string(instance->start.empty() ? 0 : instance->start.back()));
    const int64_t n = static_cast<int64_t>(instance->samples.size());
    if (Room(capacity, n * width, "floats") != KORRAND_OK) return KORRAND_ERROR_ARGUMENT;
    for (int64_t i = 0; i < n; ++i) {
        const hostmodel::Sample& s = instance->samples[static_cast<size_t>(i)];
        const int64_t first = instance->start[static_cast<size_t>(s.segment)];
        const int64_t count = instance->start[static_cast<size_t>(s.segment) + 1] - first;
        float* dst = out + i * width;
        if (count <= 0) {
            std::fill(dst, dst + width, 0.0f);
            continue;
        }
        // As the host evaluates the point: on the edge from point k to the next (back to the
        // first after the last), at fraction f.
        const double x = s.position;
        const int64_t last = count - 1;
        int64_t k = x >= static_cast<double>(count) ? last : static_cast<int64_t>(x);
        if (k < 0) k = 0;
        const double f = x - static_cast<double>(k);
        const float* a = values + (first + k) * width;
        const float* b = values + (first + (k + 1 > last ? 0 : k + 1)) * width;
        for (int32_t w = 0; w < width; ++w)
            dst[w] = static_cast<float>(a[w] + (static_cast<double>(b[w]) - a[w]) * f);
    }
    return Ok();
}

int32_t korrand_result_in_segment_order(KorrandInstance* instance, KorrandLine* line) {
    if (instance == nullptr || line == nullptr)
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    return Guarded([&] {
        // Each dash by the segment of its first point; equal segments keep their order.
        const std::vector<int32_t>& counts = instance->counts;
        std::vector<int64_t> first(counts.size());
        int64_t at = 0;
        for (size_t d = 0; d < counts.size(); ++d) {
            first[d] = at;
            at += counts[d];
        }
        std::vector<size_t> order(counts.size());
        for (size_t d = 0; d < order.size(); ++d) order[d] = d;
        const auto segmentOf = [&](size_t d) {
            return counts[d] > 0 ? instance->samples[static_cast<size_t>(first[d])].segment : -1;
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return segmentOf(a) < segmentOf(b); });
        std::vector<int32_t> sortedCounts;
        std::vector<HostVector> points;
        std::vector<hostmodel::Sample> samples;
        sortedCounts.reserve(counts.size());
        points.reserve(instance->points.size());
        samples.reserve(instance->samples.size());
        for (const size_t d : order) {
            sortedCounts.push_back(counts[d]);
            const auto from = static_cast<std::ptrdiff_t>(first[d]);
            points.insert(points.end(), instance->points.begin() + from,
                          instance->points.begin() + from + counts[d]);
            samples.insert(samples.end(), instance->samples.begin() + from,
                           instance->samples.begin() + from + counts[d]);
        }
        instance->counts.swap(sortedCounts);
        instance->points.swap(points);
        instance->samples.swap(samples);
        ShowResult(*instance, line);
        return Ok();
    });
}

int32_t korrand_result_reverse(KorrandInstance* instance, const int32_t* reversed,
                               int32_t segment_count, KorrandLine* line) {
    if (instance == nullptr || line == nullptr || segment_count < 0 ||
        (segment_count > 0 && reversed == nullptr))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    size_t at = 0;
    for (const int32_t c : instance->counts) {
        const auto first = static_cast<std::ptrdiff_t>(at);
        at += static_cast<size_t>(c);
        if (c < 2) continue;
        const int32_t segment = instance->samples[at - static_cast<size_t>(c)].segment;
        if (segment < 0 || segment >= segment_count)
            return Fail(KORRAND_ERROR_ARGUMENT, "flags for " + std::to_string(segment_count) +
                                                    " segments, the result lies on segment " +
                                                    std::to_string(segment));
        if (reversed[segment] == 0) continue;
        const auto last = static_cast<std::ptrdiff_t>(at);
        std::reverse(instance->points.begin() + first, instance->points.begin() + last);
        std::reverse(instance->samples.begin() + first, instance->samples.begin() + last);
    }
    ShowResult(*instance, line);
    return Ok();
}

int32_t korrand_result_join_seams(KorrandInstance* instance, const float* seams,
                                  int32_t segment_count, KorrandLine* line) {
    if (instance == nullptr || line == nullptr || segment_count < 0 ||
        (segment_count > 0 && seams == nullptr))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    const std::vector<int32_t>& counts = instance->counts;
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    return Guarded([&] {
        // Each dash's first point and segment.
        const size_t n = counts.size();
        std::vector<size_t> first(n);
        std::vector<int32_t> segment(n, -1);
        size_t at = 0;
        for (size_t d = 0; d < n; ++d) {
            first[d] = at;
            at += static_cast<size_t>(counts[d]);
        }
        for (size_t d = 0; d < n; ++d)
            if (counts[d] > 0) segment[d] = instance->samples[first[d]].segment;
        const auto on = [](const HostVector& p, const float* seam) {
            const double scale = std::max({1.0, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
            return std::fabs(p.x - seam[0]) <= 1e-6 * scale &&
                   std::fabs(p.y - seam[1]) <= 1e-6 * scale &&
                   std::fabs(p.z - seam[2]) <= 1e-6 * scale;
        };
        // Per run of dashes on one closed segment: the piece ending at its seam, then the one
        // starting there, written where the earlier of them stood.
        std::vector<size_t> before(n, n);  // the piece that goes in front of this one
        std::vector<bool> gone(n, false);
        std::vector<size_t> placed(n, n);  // where the joined piece is written: its two parts
        for (size_t d = 0; d < n;) {
            size_t e = d;
            while (e + 1 < n && segment[e + 1] == segment[d]) ++e;
            const int32_t s = segment[d];
            const float* seam =
                s >= 0 && s < segment_count ? seams + 3 * static_cast<size_t>(s) : nullptr;
            if (e > d && seam != nullptr && !std::isnan(seam[0])) {
                size_t ending = n, starting = n;
                // At the loop's end and start, not only where it passes through its start
                // point again (a figure eight).
                const auto atLoop = [&](size_t point, double uniform) {
                    return std::fabs(instance->samples[point].uniform - uniform) <= 1e-9;
                };
                for (size_t k = d; k <= e; ++k) {
                    if (counts[k] < 2) continue;
                    const auto last = first[k] + static_cast<size_t>(counts[k]) - 1;
                    if (ending == n && on(instance->points[last], seam) && atLoop(last, 1))
                        ending = k;
                    if (starting == n && on(instance->points[first[k]], seam) &&
                        atLoop(first[k], 0))
                        starting = k;
                }
                if (ending != n && starting != n && ending != starting) {
                    const size_t earlier = std::min(ending, starting);
                    gone[ending == earlier ? starting : ending] = true;
                    placed[earlier] = ending;
                    before[earlier] = starting;
                }
            }
            d = e + 1;
        }
        std::vector<int32_t> joinedCounts;
        std::vector<HostVector> points;
        std::vector<hostmodel::Sample> samples;
        points.reserve(instance->points.size());
        samples.reserve(instance->samples.size());
        const auto put = [&](size_t d, size_t skip) {
            const auto from = static_cast<std::ptrdiff_t>(first[d] + skip);
            const auto to = static_cast<std::ptrdiff_t>(first[d] + static_cast<size_t>(counts[d]));
            points.insert(points.end(), instance->points.begin() + from,
                          instance->points.begin() + to);
            samples.insert(samples.end(), instance->samples.begin() + from,
                           instance->samples.begin() + to);
        };
        for (size_t d = 0; d < n; ++d) {
            if (gone[d]) continue;
            if (placed[d] != n) {
                put(placed[d], 0);
                put(before[d], 1);
                joinedCounts.push_back(counts[placed[d]] + counts[before[d]] - 1);
            } else {
                put(d, 0);
                joinedCounts.push_back(counts[d]);
            }
        }
        instance->counts.swap(joinedCounts);
        instance->points.swap(points);
        instance->samples.swap(samples);
        ShowResult(*instance, line);
        return Ok();
    });
}

int32_t korrand_result_trim(KorrandInstance* instance, const double* from, const double* to,
                            int32_t segment_count, KorrandLine* line) {
    if (instance == nullptr || line == nullptr || segment_count < 0 ||
        (segment_count > 0 && (from == nullptr || to == nullptr)))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    if (Traced(instance) != KORRAND_OK) return KORRAND_ERROR_PLUGIN;
    return Guarded([&] {
        std::vector<int32_t> counts;
        std::vector<HostVector> points;
        std::vector<hostmodel::Sample> samples;
        points.reserve(instance->points.size());
        samples.reserve(instance->samples.size());
        const auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
        // A range's ends come from the host's float lengths: a piece cut to within their
        // rounding (a dash that starts where the range ends) is nothing, and would be swept
        // edge-on.
        double rounding = 0;
        // The point t of the way from point i to point i + 1, with its source.
        const auto put = [&](size_t i, double t, double bound) {
            if (t > 0 && t < 1)
                rounding = std::max(rounding, 4 * static_cast<double>(FLT_EPSILON) *
                                                  std::max(1.0, std::fabs(bound)));
            if (t == 0 || t == 1) {
                points.push_back(instance->points[i + (t == 1 ? 1 : 0)]);
                samples.push_back(instance->samples[i + (t == 1 ? 1 : 0)]);
                return;
            }
            const HostVector& a = instance->points[i];
            const HostVector& b = instance->points[i + 1];
            points.push_back({lerp(a.x, b.x, t), lerp(a.y, b.y, t), lerp(a.z, b.z, t)});
            hostmodel::Sample s = instance->samples[i];
            s.uniform = lerp(s.uniform, instance->samples[i + 1].uniform, t);
            s.position = bound;  // exactly the range's end, not its rounding
            samples.push_back(s);
        };
        size_t at = 0;
        for (const int32_t c : instance->counts) {
            const size_t first = at;
            at += static_cast<size_t>(c);
            int32_t open = 0;  // points of the piece being written
            const auto close = [&] {
                const bool sliver =
                    open >= 2 && rounding > 0 &&
                    std::fabs(samples.back().position -
                              samples[samples.size() - static_cast<size_t>(open)].position) <=
                        rounding;
                rounding = 0;
                if (open >= 2 && !sliver) {
                    counts.push_back(open);
                } else {
                    points.resize(points.size() - static_cast<size_t>(open));
                    samples.resize(samples.size() - static_cast<size_t>(open));
                }
                open = 0;
            };
            for (size_t i = first; i < at; ++i) {
                const int32_t segment = instance->samples[i].segment;
                if (segment < 0 || segment >= segment_count)
                    return Fail(KORRAND_ERROR_ARGUMENT,
                                "ranges for " + std::to_string(segment_count) +
                                    " segments, the result lies on segment " +
                                    std::to_string(segment));
                const double lo = from[segment], hi = to[segment];
                const double x0 = instance->samples[i].position;
                if (!(lo <= hi)) {  // nothing of this segment is kept
                    close();
                    continue;
                }
                if (c == 1) {  // a dash of one point: kept where it lies in the range
                    if (lo <= x0 && x0 <= hi) {
                        put(i, 0, x0);
                        counts.push_back(1);
                    }
                    break;
                }
                if (i + 1 == at || instance->samples[i + 1].segment != segment) {
                    close();
                    continue;
                }
                // The part of the edge to the next point that lies in [lo, hi], as [t0, t1].
                const double x1 = instance->samples[i + 1].position;
                double t0 = 0, t1 = 1, b0 = x0, b1 = x1;
                if (x0 == x1) {
                    if (!(lo <= x0 && x0 <= hi)) t0 = 2;  // outside: nothing of it
                } else {
                    const double ta = (lo - x0) / (x1 - x0), tb = (hi - x0) / (x1 - x0);
                    const double enter = std::min(ta, tb), leave = std::max(ta, tb);
                    if (enter > 0) {
                        t0 = enter;
                        b0 = x1 > x0 ? lo : hi;
                    }
                    if (leave < 1) {
                        t1 = leave;
                        b1 = x1 > x0 ? hi : lo;
                    }
                }
                if (!(t0 < t1)) {
                    close();
                    continue;
                }
                // A piece that goes on from the last edge's end shares that point.
                if (open == 0 || t0 > 0) {
                    close();
                    put(i, t0, b0);
                    open = 1;
                }
                put(i, t1, b1);
                ++open;
                if (t1 < 1) close();
            }
            close();
        }
        instance->counts.swap(counts);
        instance->points.swap(points);
        instance->samples.swap(samples);
        ShowResult(*instance, line);
        return Ok();
    });
}

int32_t korrand_points_from_list(const KorrandSegmentList* layout, const void* first,
                                 const int32_t* counts, int32_t segment_count, float* xyz,
                                 int64_t capacity, int32_t* changed) {
    if (layout == nullptr || changed == nullptr || segment_count < 0 ||
        (segment_count > 0 && counts == nullptr))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    return Guarded([&] {
        const KorrandSegmentList l = *layout;
        int64_t total = 0;
        for (int32_t i = 0; i < segment_count; ++i) {
            if (counts[i] < 0) return Fail(KORRAND_ERROR_ARGUMENT, "negative segment count");
            total += counts[i];
        }
        if (capacity < 3 * total || (total > 0 && xyz == nullptr))
            return Fail(KORRAND_ERROR_ARGUMENT, "room for " + std::to_string(capacity) +
                                                    " floats, " + std::to_string(3 * total) +
                                                    " needed");
        const int32_t status =
            CheckList(l, first, counts, static_cast<size_t>(segment_count), false);
        if (status != KORRAND_OK) return status;
        // Copied and compared in one pass: the caller learns whether anything moved without
        // keeping a second copy or reading the points twice.
        bool differs = false;
        const void* at = first;
        float* dst = xyz;
        for (int32_t i = 0; i < segment_count; ++i) {
            const char* src = static_cast<const char*>(Pointer(at, l.points_offset));
            for (int32_t k = 0; k < counts[i]; ++k, src += l.point_size, dst += 3) {
                if (!differs && std::memcmp(dst, src, 3 * sizeof(float)) != 0) differs = true;
                std::memcpy(dst, src, 3 * sizeof(float));
            }
            at = Pointer(at, l.next_offset);
        }
        *changed = differs ? 1 : 0;
        return Ok();
    });
}

int32_t korrand_ring_channels(const float* rings, const float* xyz, int64_t point_count,
                              const int32_t* counts, int32_t spline_count, float* out,
                              int32_t* reversed, int32_t* matched) {
    if (matched == nullptr || spline_count < 0 || point_count < 0 ||
        (spline_count > 0 && counts == nullptr) ||
        (point_count > 0 && (rings == nullptr || xyz == nullptr || out == nullptr)))
        return Fail(KORRAND_ERROR_ARGUMENT, "null argument");
    int64_t total = 0;
    for (int32_t i = 0; i < spline_count; ++i) {
        if (counts[i] < 0) return Fail(KORRAND_ERROR_ARGUMENT, "negative spline count");
        total += counts[i];
    }
    if (total != point_count)
        return Fail(KORRAND_ERROR_ARGUMENT, "spline counts add up to " + std::to_string(total) +
                                                " points, not " + std::to_string(point_count));
    // In doubles, as the add-on worked them out before it asked the bridge.
    const auto centre = [&](int64_t point, int i) {
        const float* r = rings + 12 * point;
        return (((0.0 + r[i]) + r[3 + i]) + r[6 + i]) + r[9 + i];
    };
    int64_t at = 0;
    for (int32_t s = 0; s < spline_count; at += counts[s], ++s) {
        const int64_t count = counts[s];
        if (reversed != nullptr) reversed[s] = 0;
        if (count == 0) continue;
        // Centres are averages of four vertices: near the point, within rounding of the
        // curve's size.
        double size = 1e-6;
        for (int64_t k = 3 * at; k < 3 * (at + count); ++k)
            size = std::max(size, std::fabs(1.0 * xyz[k]));
        for (int64_t k = 12 * at; k < 12 * (at + count); ++k)
            size = std::max(size, std::fabs(1.0 * rings[k]));
        const auto meets = [&](int64_t ring, int64_t point) {
            double far = 0;
            for (int i = 0; i < 3; ++i)
                far =
                    std::max(far, std::fabs(centre(at + ring, i) / 4 - xyz[3 * (at + point) + i]));
            return far <= 1e-4 * size;
        };
        int64_t shift = -1;
        for (int64_t k = 0; k < count && shift < 0; ++k)
            if (meets(k, 0)) shift = k;
        // Blender may also run a closed 2D spline's rings the other way round (it orders them
        // for its fill): the ring after the first point's then lies on the last point.
        const bool backwards = shift >= 0 && count > 2 && !meets((shift + 1) % count, 1) &&
                               meets((shift + count - 1) % count, 1);
        if (shift < 0 || (count > 2 && !backwards && !meets((shift + 1) % count, 1))) {
            *matched = 0;
            return Ok();
        }
        if (reversed != nullptr) reversed[s] = backwards ? 1 : 0;
        for (int64_t k = 0; k < count; ++k) {
            const int64_t r = at + (backwards ? (shift + count - k) : (k + shift)) % count;
            double c[3], d[3], b[3];
            for (int i = 0; i < 3; ++i) {
                c[i] = centre(r, i) / 4;
                d[i] = rings[12 * r + 9 + i] - c[i];
                b[i] = rings[12 * r + i] - c[i];
            }
            // The normal side gives the direction; the binormal side the scale (a 2D curve's
            // normal side is widened at its corners, to keep an outline's width).
            const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            float* o = out + 4 * (at + k);
            o[0] = static_cast<float>(std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
            for (int i = 0; i < 3; ++i)
                o[1 + i] = length > 0 ? static_cast<float>(d[i] / length) : 0.0f;
        }
    }
    *matched = 1;
    return Ok();
}

}  // extern "C"
