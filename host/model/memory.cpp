// Host memory: every block carries a small header with its size and source position and sits
// in one of a few mutex-guarded lists, so leaks can be named while two threads allocate
// without fighting over one lock. Counters are atomics.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "model_internal.h"

namespace hostmodel {
namespace {

constexpr uint64_t kLiveMagic = 0x6b6f72726e64626bULL;
constexpr int64_t kDefaultMaxBlock = int64_t(1) << 40;
constexpr unsigned kShards = 8;

struct alignas(16) BlockHeader {
    BlockHeader* prev = nullptr;
    BlockHeader* next = nullptr;
    int64_t size = 0;
    int64_t capacity = 0;               // bytes usable after the header; size <= capacity
    const std::string* file = nullptr;  // interned: the caller's literal may be unloaded
    int32_t line = 0;
    uint32_t shard = 0;
    uint64_t magic = 0;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "blocks stay 16-byte aligned");

struct alignas(64) Shard {
    std::mutex mutex;
    BlockHeader head;
    Shard() { head.prev = head.next = &head; }
};

Shard* Shards() {
    static Shard shards[kShards];
    return shards;
}

std::atomic<int64_t> g_liveBlocks{0}, g_liveBytes{0}, g_total{0}, g_peak{0};
std::atomic<int64_t> g_calls{0}, g_failAt{0};
std::atomic<int64_t> g_objectCalls{0}, g_objectFailAt{0};
std::atomic<bool> g_failFileOn{false};
std::atomic<int64_t> g_maxBlock{kDefaultMaxBlock};
std::atomic<unsigned> g_nextShard{0};

struct Shared {
    std::mutex mutex;
    std::unordered_set<std::string> names;  // never shrinks; pointers to elements stay valid
    std::string failFile;
    std::vector<std::pair<int32_t, std::string>> stops;
};
Shared& State() {
    static Shared s;
    return s;
}

// Interns a source file name. Most calls hit the per-thread cache; the content check guards
// against another library reusing an address after the first was unloaded.
const std::string* Intern(const char* file) {
    if (file == nullptr) file = "";
    struct Slot {
        const char* p;
        const std::string* s;
    };
    thread_local Slot cache[8] = {};
    thread_local unsigned next = 0;
    for (const Slot& slot : cache)
        if (slot.p == file && std::strcmp(slot.s->c_str(), file) == 0) return slot.s;
    Shared& st = State();
    const std::string* s;
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        s = &*st.names.emplace(file).first;
    }
    cache[next] = Slot{file, s};
    next = (next + 1) % 8;
    return s;
}

bool FileMatches(const std::string& file, const std::string& wanted) {
    if (file == wanted) return true;
    const size_t slash = file.find_last_of("/\\");
    return slash != std::string::npos && file.compare(slash + 1, std::string::npos, wanted) == 0;
}

bool ShouldFail(int64_t call, const std::string& file) {
    const int64_t at = g_failAt.load(std::memory_order_relaxed);
    if (at != 0 && call == at) return true;
    if (g_failFileOn.load(std::memory_order_relaxed)) {
        Shared& st = State();
        std::lock_guard<std::mutex> lock(st.mutex);
        if (!st.failFile.empty() && FileMatches(file, st.failFile)) return true;
    }
    return false;
}

unsigned ThreadShard() {
    thread_local unsigned shard = g_nextShard.fetch_add(1, std::memory_order_relaxed) % kShards;
    return shard;
}

void Link(BlockHeader* h) {
    const unsigned index = ThreadShard();
    Shard& sh = Shards()[index];
    h->shard = index;
    std::lock_guard<std::mutex> lock(sh.mutex);
    h->prev = &sh.head;
    h->next = sh.head.next;
    sh.head.next->prev = h;
    sh.head.next = h;
}

void Unlink(BlockHeader* h) {
    Shard& sh = Shards()[h->shard];
    std::lock_guard<std::mutex> lock(sh.mutex);
    h->prev->next = h->next;
    h->next->prev = h->prev;
    h->prev = h->next = nullptr;
}

void AddBytes(int64_t delta) {
    const int64_t now = g_liveBytes.fetch_add(delta, std::memory_order_relaxed) + delta;
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

// Large blocks released on a thread, kept for the next large request on it. The plug-in's
// output arrays take tens of megabytes per evaluation: handing back the same warm memory spares
// the page faults of fresh memory each time. Best fit, bounded; nothing is kept under
// AddressSanitizer.
class KeptBlocks {
public:
    static constexpr int64_t kSmallest = int64_t(256) << 10;
    static constexpr int kSlots = 16;
    static constexpr int64_t kBudget = int64_t(512) << 20;  // bytes kept per thread

    // The calling thread's blocks; null while its thread ends and they are gone.
    static KeptBlocks* Mine() {
        if (detail::kAddressChecked || !detail::kThreadCaches) return nullptr;
        thread_local bool gone = false;  // trivially destructible: readable to the very end
        if (gone) return nullptr;
        thread_local KeptBlocks kept(&gone);
        return &kept;
    }
    ~KeptBlocks() {
        *gone_ = true;
        for (int i = 0; i < count_; ++i) std::free(slots_[i]);
    }
    KeptBlocks(const KeptBlocks&) = delete;
    KeptBlocks& operator=(const KeptBlocks&) = delete;

    // The kept block of least capacity within lo .. hi, or null.
    BlockHeader* Take(int64_t lo, int64_t hi) {
        int best = -1;
        for (int i = 0; i < count_; ++i) {
            const int64_t c = slots_[i]->capacity;
            if (c >= lo && c <= hi && (best < 0 || c < slots_[best]->capacity)) best = i;
        }
        if (best < 0) return nullptr;
        BlockHeader* h = slots_[best];
        slots_[best] = slots_[--count_];
        bytes_ -= h->capacity;
        return h;
    }
    // False when h is not kept (the caller frees it). When full, smaller kept blocks make way
    // for a larger one: the large ones are those worth keeping.
    bool Keep(BlockHeader* h) {
        if (detail::kAddressChecked || h->capacity < kSmallest || h->capacity > kBudget)
            return false;
        while (count_ == kSlots || bytes_ + h->capacity > kBudget) {
            int smallest = 0;
            for (int i = 1; i < count_; ++i)
                if (slots_[i]->capacity < slots_[smallest]->capacity) smallest = i;
            if (count_ == 0 || slots_[smallest]->capacity >= h->capacity) return false;
            bytes_ -= slots_[smallest]->capacity;
            std::free(slots_[smallest]);
            slots_[smallest] = slots_[--count_];
        }
        slots_[count_++] = h;
        bytes_ += h->capacity;
        return true;
    }

private:
    explicit KeptBlocks(bool* gone) : gone_(gone) {}
    bool* gone_;
    BlockHeader* slots_[kSlots] = {};
    int count_ = 0;
    int64_t bytes_ = 0;
};

// A kept block of at least size bytes and at most most, or null.
BlockHeader* TakeKept(int64_t size, int64_t most) {
    if (detail::kAddressChecked || size < KeptBlocks::kSmallest) return nullptr;
    KeptBlocks* kept = KeptBlocks::Mine();
    return kept != nullptr ? kept->Take(size, most) : nullptr;
}

// Gives a released block's memory back: kept for reuse when large, else freed.
void Discard(BlockHeader* h) {
    KeptBlocks* kept = KeptBlocks::Mine();
    if (kept == nullptr || !kept->Keep(h)) std::free(h);
}

BlockHeader* HeaderOf(void* block) {
    BlockHeader* h = static_cast<BlockHeader*>(block) - 1;
    if (h->magic != kLiveMagic) {
        // A foreign or already freed pointer: the caller's memory is corrupt, as a real host
        // would crash on it.
        std::fprintf(stderr, "host model: block %p was not handed out by the host\n", block);
        std::abort();
    }
    return h;
}

void* Allocate(int64_t size, int32_t line, const char* file, bool zero) {
    const int64_t call = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (size <= 0 || size > g_maxBlock.load(std::memory_order_relaxed)) return nullptr;
    const std::string* name = Intern(file);
    if (ShouldFail(call, *name)) return nullptr;
    // A kept block at most twice the size, else fresh memory.
    int64_t capacity = size;
    void* raw = TakeKept(size, size * 2);
    if (raw != nullptr) {
        capacity = static_cast<BlockHeader*>(raw)->capacity;
        if (zero)
            std::memset(static_cast<char*>(raw) + sizeof(BlockHeader), 0,
                        static_cast<size_t>(size));
    } else {
        const size_t total = sizeof(BlockHeader) + static_cast<size_t>(size);
        raw = zero ? std::calloc(1, total) : std::malloc(total);
        if (raw == nullptr) return nullptr;
    }
    BlockHeader* h = new (raw) BlockHeader();
    h->size = size;
    h->capacity = capacity;
    h->file = name;
    h->line = line;
    h->magic = kLiveMagic;
    Link(h);
    g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    g_total.fetch_add(1, std::memory_order_relaxed);
    AddBytes(size);
    return h + 1;
}

// realloc behind a call the compiler does not see into: after a failed realloc the block is
// still the caller's, which the use-after-free warning cannot know.
[[gnu::noinline]] void* Resize(void* block, size_t bytes) {
    return std::realloc(block, bytes);
}

void* Reallocate(void* block, int64_t size, int32_t line, const char* file) {
    if (block == nullptr) return Allocate(size, line, file, false);
    const int64_t call = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (size <= 0 || size > g_maxBlock.load(std::memory_order_relaxed)) return nullptr;
    const std::string* name = Intern(file);
    if (ShouldFail(call, *name)) return nullptr;
    BlockHeader* h = HeaderOf(block);
    const int64_t old = h->size;
    if (size <= h->capacity && !detail::kAddressChecked) {
        // Room enough already: the block stays where it is.
        h->size = size;
        h->file = name;
        h->line = line;
        g_total.fetch_add(1, std::memory_order_relaxed);
        AddBytes(size - old);
        return block;
    }
    // A growing block gets half as much again as asked for: grown step by step (the plug-in's
    // arrays grow by fixed blocks), each byte is then copied a bounded number of times instead
    // of once per step. Exactly the size when that much cannot be had.
    int64_t capacity = size;
    if (size > old && !detail::kAddressChecked) capacity = size + size / 2;
    if (BlockHeader* kept = TakeKept(size, INT64_MAX)) {
        // Into a kept block large enough: one copy, and no fresh memory for the growth after.
        Unlink(h);
        const int64_t keptCapacity = kept->capacity;
        std::memcpy(kept + 1, h + 1, static_cast<size_t>(old < size ? old : size));
        h->magic = 0;
        Discard(h);
        h = new (kept) BlockHeader();
        h->size = size;
        h->capacity = keptCapacity;
        h->file = name;
        h->line = line;
        h->magic = kLiveMagic;
        Link(h);
        g_total.fetch_add(1, std::memory_order_relaxed);
        AddBytes(size - old);
        return h + 1;
    }
    Unlink(h);
    void* raw = Resize(h, sizeof(BlockHeader) + static_cast<size_t>(capacity));
    if (raw == nullptr && capacity != size) {
        capacity = size;
        raw = Resize(h, sizeof(BlockHeader) + static_cast<size_t>(capacity));
    }
    if (raw == nullptr) {
        Link(h);  // the old block stays the caller's
        return nullptr;
    }
    h = static_cast<BlockHeader*>(raw);
    h->size = size;
    h->capacity = capacity;
    h->file = name;
    h->line = line;
    Link(h);
    g_total.fetch_add(1, std::memory_order_relaxed);
    AddBytes(size - old);
    return h + 1;
}

void Release(void* block) {
    if (block == nullptr) return;
    BlockHeader* h = HeaderOf(block);
    Unlink(h);
    h->magic = 0;
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    AddBytes(-h->size);
    Discard(h);
}

// ---- Table entries: nothing may escape as an exception.

void* AllocZeroedEntry(int64_t size, int32_t line, const char* file) {
    void* p = nullptr;
    try {
        p = Allocate(size, line, file, true);
    } catch (...) {
        p = nullptr;
    }
    if (detail::Recording()) detail::Record("memory.AllocZeroed", p, {size, line}, {}, file);
    return p;
}

void* AllocBlockEntry(int64_t size, int32_t line, const char* file) {
    void* p = nullptr;
    try {
        p = Allocate(size, line, file, false);
    } catch (...) {
        p = nullptr;
    }
    if (detail::Recording()) detail::Record("memory.AllocBlock", p, {size, line}, {}, file);
    return p;
}

void* ReallocBlockEntry(void* block, int64_t size, int32_t line, const char* file) {
    void* p = nullptr;
    try {
        p = Reallocate(block, size, line, file);
    } catch (...) {
        p = nullptr;
    }
    if (detail::Recording()) detail::Record("memory.ReallocBlock", p, {size, line}, {}, file);
    return p;
}

void FreeEntry(void* block) {
    if (detail::Recording()) detail::Record("memory.Free", block);
    Release(block);
}

void StopReportEntry(int32_t line, const char* file) {
    if (detail::Recording()) detail::Record("memory.StopReport", nullptr, {line}, {}, file);
    try {
        Shared& st = State();
        std::lock_guard<std::mutex> lock(st.mutex);
        st.stops.emplace_back(line, file);
    } catch (...) {
    }
}

}  // namespace

namespace detail {

std::atomic<int64_t> g_liveObjects{0};

bool ObjectAllocationFails() {
    const int64_t call = g_objectCalls.fetch_add(1, std::memory_order_relaxed) + 1;
    const int64_t at = g_objectFailAt.load(std::memory_order_relaxed);
    return at != 0 && call == at;
}

void FillMemory(HostMemoryOps& ops) {
    ops.AllocZeroed = AllocZeroedEntry;
    ops.AllocBlock = AllocBlockEntry;
    ops.ReallocBlock = ReallocBlockEntry;
    ops.Free = FreeEntry;
    ops.StopReport = StopReportEntry;
}

}  // namespace detail

int64_t LiveObjects() {
    return detail::g_liveObjects.load(std::memory_order_relaxed);
}

MemoryStats Memory() {
    return MemoryStats{g_liveBlocks.load(), g_liveBytes.load(), g_total.load(), g_peak.load()};
}

void ResetPeak() {
    g_peak.store(g_liveBytes.load());
}

std::vector<std::string> LiveBlockSites() {
    std::vector<std::string> sites;
    for (unsigned i = 0; i < kShards; ++i) {
        Shard& sh = Shards()[i];
        std::lock_guard<std::mutex> lock(sh.mutex);
        for (const BlockHeader* h = sh.head.next; h != &sh.head; h = h->next)
            sites.push_back(*h->file + ":" + std::to_string(h->line));
    }
    return sites;
}

void FailAllocationNumber(int64_t n) {
    g_failAt.store(n > 0 ? g_calls.load() + n : 0);
}

void FailAllocationsFrom(const std::string& file) {
    Shared& st = State();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.failFile = file;
    g_failFileOn.store(!file.empty());
}

void FailObjectAllocations(int64_t n) {
    g_objectFailAt.store(n > 0 ? g_objectCalls.load() + n : 0);
}

int64_t AllocationCount() {
    return g_calls.load();
}
int64_t ObjectAllocationCount() {
    return g_objectCalls.load();
}

void SetMaxBlockSize(int64_t bytes) {
    g_maxBlock.store(bytes > 0 ? bytes : kDefaultMaxBlock);
}
int64_t MaxBlockSize() {
    return g_maxBlock.load();
}

void ResetFaults() {
    SetMaxBlockSize(kDefaultMaxBlock);
    FailAllocationNumber(0);
    FailAllocationsFrom("");
    FailObjectAllocations(0);
}

std::vector<std::pair<int32_t, std::string>> StopReports() {
    Shared& st = State();
    std::lock_guard<std::mutex> lock(st.mutex);
    return st.stops;
}

void ClearStopReports() {
    Shared& st = State();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.stops.clear();
}

}  // namespace hostmodel
