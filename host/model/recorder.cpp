// The call recorder: off by default; while on, every table entry appends one Call under a
// mutex, so tests can check the order of the plug-in's host calls.
#include "model_internal.h"

namespace hostmodel {
namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<Call> calls;
};
Recorder& State() {
    static Recorder r;
    return r;
}

}  // namespace

namespace detail {

std::atomic<bool> g_recording{false};

void Record(const char* op, const void* handle, std::initializer_list<int64_t> ints,
            std::initializer_list<double> reals, const char* text) {
    try {
        Recorder& r = State();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!g_recording.load(std::memory_order_relaxed)) return;
        r.calls.push_back(Call{op, ints, reals, handle, text != nullptr ? text : ""});
    } catch (...) {
        // A call lost to memory exhaustion is better than an exception in the plug-in.
    }
}

}  // namespace detail

void StartRecording() {
    Recorder& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls.clear();
    detail::g_recording.store(true);
}

std::vector<Call> StopRecording() {
    Recorder& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    detail::g_recording.store(false);
    std::vector<Call> out;
    out.swap(r.calls);
    return out;
}

}  // namespace hostmodel
