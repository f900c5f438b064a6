// The timed cases: each evaluation of the loaded plug-in beside the floor on the same input,
// the parallel case F, and the command-line host's reading, dashing and writing.
#include "cases.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "alloc_counter.h"
#include "document.h"
#include "format_detail.h"
#include "korrand_host.h"
#include "okorrand.h"

namespace bench {
namespace {

bool g_tiny = false;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---- The plug-in, loaded once

hostmodel::Plugin& ThePlugin() {
    static std::unique_ptr<hostmodel::Plugin> plugin = [] {
        std::string error;
        auto p = hostmodel::Plugin::Load(KORRAND_PLUGIN_FOLDER, &error);
        if (!p || !p->Start(&error)) {
            std::fprintf(stderr, "korrand_bench: %s\n", error.c_str());
            std::exit(1);
        }
        return p;
    }();
    return *plugin;
}

// ---- Cases

struct Case {
    CaseShape shape;
    Input input;
    dash::Plan plan;
};

// Inputs are made on first use and kept: a filtered run makes only what it runs.
const Case& GetCase(const std::string& name, const CaseShape& shape) {
    static std::map<std::string, std::unique_ptr<Case>> cases;
    std::unique_ptr<Case>& c = cases[name];
    if (!c) {
        c = std::make_unique<Case>();
        c->shape = shape;
        c->input = MakeInput(shape.segments, shape.pointsPerSegment, kSeedValue);
        c->plan = MakePlan(c->input, shape.settings);
    }
    return *c;
}

CaseShape ShapeA() {
    CaseShape s{1000, 1000, {}};
    if (g_tiny) s.segments = 20, s.pointsPerSegment = 100;
    return s;
}
CaseShape ShapeB() {
    CaseShape s{100, 100000, {}};
    s.settings.count = 1000;
    if (g_tiny) s.segments = 4, s.pointsPerSegment = 5000;
    return s;
}
CaseShape ShapeC() {
    CaseShape s = ShapeA();
    s.settings.jitter = 0.5;
    return s;
}
CaseShape ShapeD() {
    CaseShape s = ShapeA();
    s.settings.relative = true;
    return s;
}
CaseShape ShapeE() {
    CaseShape s{100000, 10, {}};
    s.settings.count = 5;
    if (g_tiny) s.segments = 1000;
    return s;
}

}  // namespace

void SetTiny(bool tiny) {
    g_tiny = tiny;
}

Modifier::Modifier(const dash::DashSettings& s) {
    auto inst = ThePlugin().Create(ID_KORRAND);
    if (!inst) {
        std::fprintf(stderr, "korrand_bench: cannot create the modifier\n");
        std::exit(1);
    }
    inst_ = *inst;
    const HostFunctionTable* t = hostmodel::Table();
    HostContainer* bc = hostmodel::Container(inst_.node);
    t->container.SetLong(bc, KORRAND_COUNT, s.count);
    t->container.SetLong(bc, KORRAND_SUBDIVISION, s.subdivision);
    t->container.SetBool(bc, KORRAND_CLOSED, s.closed ? 1 : 0);
    t->container.SetBool(bc, KORRAND_RELATIVE, s.relative ? 1 : 0);
    t->container.SetReal(bc, KORRAND_JITTER, s.jitter);
    t->container.SetLong(bc, KORRAND_SEED, s.seed);
    t->container.SetReal(bc, KORRAND_OFFSET, s.offset);
    t->container.SetReal(bc, KORRAND_START, s.start);
    t->container.SetReal(bc, KORRAND_END, s.end);
}

Modifier::~Modifier() {
    ThePlugin().Destroy(inst_);
}

bool Modifier::Modify(HostAtom* op) const {
    return ThePlugin().Modify(inst_, op);
}

Counts Snapshot() {
    return {hostmodel::AllocationCount(), hostmodel::ObjectAllocationCount(), HeapAllocations()};
}

// Cases A to E and variants that reach the other branches of the layout.
std::vector<std::pair<std::string, CaseShape>> Variants() {
    std::vector<std::pair<std::string, CaseShape>> cases = {
        {"A", ShapeA()}, {"B", ShapeB()}, {"C", ShapeC()}, {"D", ShapeD()}, {"E", ShapeE()}};
    CaseShape v = ShapeA();
    v.settings.closed = false;
    cases.emplace_back("A-open", v);
    v = ShapeA();
    v.settings.offset = 0.37;
    v.settings.start = 0.1;
    v.settings.end = 0.8;
    cases.emplace_back("A-offset-range", v);
    v = ShapeA();
    v.settings.subdivision = 7;
    v.settings.count = 7;
    v.settings.jitter = 2.5;
    v.settings.seed = -3;
    cases.emplace_back("A-jitter-subdivision", v);
    v = ShapeE();
    v.settings.relative = true;
    v.settings.offset = -1.25;
    cases.emplace_back("E-relative-offset", v);
    return cases;
}

namespace {

// Time, output rate, the plug-in's peak host memory and the allocations of one evaluation.
void ModifyCase(benchmark::State& state, const Case& c) {
    Modifier modifier(c.shape.settings);
    int64_t points = 0;
    int64_t peak = 0;
    Counts per{0, 0, 0};
    for (auto _ : state) {
        HostAtom* line = hostmodel::NewLineObject(c.input.points, c.input.counts);
        const int64_t live = hostmodel::Memory().liveBytes;
        hostmodel::ResetPeak();
        const Counts before = Snapshot();
        const auto t0 = Clock::now();
        const bool ok = modifier.Modify(line);
        const auto t1 = Clock::now();
        const Counts after = Snapshot();
        state.SetIterationTime(Seconds(t1 - t0));
        peak = hostmodel::Memory().peakBytes - live;
        per = {after.hostAllocations - before.hostAllocations,
               after.objectAllocations - before.objectAllocations,
               after.heapAllocations - before.heapAllocations};
        points = hostmodel::Table()->object.GetPointCount(line);
        hostmodel::FreeObject(line);
        if (!ok) state.SkipWithError("ModifyObject failed");
    }
    if (points != static_cast<int64_t>(c.plan.u.size()))
        state.SkipWithError("the plug-in's point count differs from the floor's");
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["host_allocs"] = static_cast<double>(per.hostAllocations);
    state.counters["object_allocs"] = static_cast<double>(per.objectAllocations);
    state.counters["heap_allocs"] = static_cast<double>(per.heapAllocations);
}

void FloorCase(benchmark::State& state, const Case& c, bool tuned = false) {
    FloorBuffers buffers;
    RunFloor(c.input, c.plan, c.shape.settings.closed, buffers);  // buffers sized once
    int64_t points = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        points = RunFloor(c.input, c.plan, c.shape.settings.closed, buffers, tuned);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(buffers.points.data());
        benchmark::ClobberMemory();
        state.SetIterationTime(Seconds(t1 - t0));
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    const double bytes = static_cast<double>(buffers.points.size() * sizeof(HostVector) +
                                             buffers.segments.size() * sizeof(HostSegment) +
                                             buffers.cum.size() * sizeof(double));
    state.counters["peak_MB"] = bytes / 1e6;
}

// F: kObjects copies of case A dashed by `threads` threads, each with its own modifier object,
// as a host evaluates independent objects in parallel on the threads of its pool.
constexpr int kObjects = 8;

// The calling thread and helpers - 1 threads kept for the whole benchmark, as a host's pool.
class Crew {
public:
    explicit Crew(int threads) {
        for (int t = 1; t < threads; ++t)
            helpers_.emplace_back([this, t] {
                int seen = 0;
                for (;;) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                    if (stop_) return;
                    seen = generation_;
                    const std::function<void(int)>* job = job_;
                    lock.unlock();
                    (*job)(t);
                    lock.lock();
                    if (--pending_ == 0) done_.notify_one();
                }
            });
    }
    ~Crew() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& h : helpers_) h.join();
    }
    // job(0) runs here, job(1 ..) on the helpers; returns when all have returned.
    void Run(const std::function<void(int)>& job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            pending_ = static_cast<int>(helpers_.size());
            ++generation_;
        }
        wake_.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int)>* job_ = nullptr;
    int generation_ = 0, pending_ = 0;
    bool stop_ = false;
    std::vector<std::thread> helpers_;
};

void ParallelModify(benchmark::State& state, const Case& c, int threads) {
    std::vector<std::unique_ptr<Modifier>> modifiers;
    for (int i = 0; i < threads; ++i)
        modifiers.push_back(std::make_unique<Modifier>(c.shape.settings));
    Crew crew(threads);
    // One untimed round first: each thread of the pool then has the memory the host model keeps
    // for it, as the calling thread has from earlier cases.
    {
        std::vector<HostAtom*> lines;
        for (int i = 0; i < kObjects; ++i)
            lines.push_back(hostmodel::NewLineObject(c.input.points, c.input.counts));
        crew.Run([&](int t) {
            for (int i = t; i < kObjects; i += threads)
                modifiers[static_cast<size_t>(t)]->Modify(lines[static_cast<size_t>(i)]);
        });
        for (HostAtom* line : lines) hostmodel::FreeObject(line);
    }
    int64_t points = 0;
    for (auto _ : state) {
        std::vector<HostAtom*> lines;
        for (int i = 0; i < kObjects; ++i)
            lines.push_back(hostmodel::NewLineObject(c.input.points, c.input.counts));
        std::atomic<bool> ok{true};
        const auto t0 = Clock::now();
        crew.Run([&](int t) {
            for (int i = t; i < kObjects; i += threads)
                if (!modifiers[static_cast<size_t>(t)]->Modify(lines[static_cast<size_t>(i)]))
                    ok = false;
        });
        const auto t1 = Clock::now();
        state.SetIterationTime(Seconds(t1 - t0));
        points = 0;
        for (HostAtom* line : lines) {
            points += hostmodel::Table()->object.GetPointCount(line);
            hostmodel::FreeObject(line);
        }
        if (!ok) state.SkipWithError("ModifyObject failed");
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

void ParallelFloor(benchmark::State& state, const Case& c, int threads) {
    std::vector<FloorBuffers> buffers(static_cast<size_t>(kObjects));
    for (auto& b : buffers) RunFloor(c.input, c.plan, c.shape.settings.closed, b);
    // Each object is its own copy of the input, as in the modify case.
    std::vector<Input> inputs(static_cast<size_t>(kObjects), c.input);
    Crew crew(threads);
    int64_t points = 0;
    for (auto _ : state) {
        std::atomic<int64_t> written{0};
        const auto t0 = Clock::now();
        crew.Run([&](int t) {
            for (int i = t; i < kObjects; i += threads)
                written += RunFloor(inputs[static_cast<size_t>(i)], c.plan, c.shape.settings.closed,
                                    buffers[static_cast<size_t>(i)]);
        });
        const auto t1 = Clock::now();
        state.SetIterationTime(Seconds(t1 - t0));
        points = written;
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

// ---- The command-line host on case A as JSON: reading, dashing, writing, with the code of the
// korrand executable (korrand_formats and KorrandHost), beside nlohmann's DOM for reference.

korrand::io::Document ToDocument(const Input& in) {
    korrand::io::Document doc;
    doc.objects.emplace_back();
    int64_t at = 0;
    for (int32_t n : in.counts) {
        auto& seg = doc.objects.back().segments.emplace_back();
        for (int32_t i = 0; i < n; ++i, ++at) {
            const HostVector& p = in.points[static_cast<size_t>(at)];
            seg.push_back({p.x, p.y, p.z});
        }
    }
    return doc;
}

// A stream that only counts what is written: the cost measured is the formatting.
class CountingBuf : public std::streambuf {
public:
    int64_t bytes = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        bytes += n;
        return n;
    }
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) ++bytes;
        return c;
    }
};

korrand::KorrandHost& TheHost() {
    static korrand::KorrandHost host(KORRAND_PLUGIN_FOLDER);
    return host;
}

void CliRead(benchmark::State& state) {
    const std::string& text = CaseAJson();
    for (auto _ : state) {
        std::istringstream in(text);
        korrand::io::Document doc = korrand::io::Read(in, korrand::io::Format::Json, "A.json");
        benchmark::DoNotOptimize(doc.objects.data());
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(text.size()) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void CliDash(benchmark::State& state) {
    std::istringstream in(CaseAJson());
    const korrand::io::Document doc = korrand::io::Read(in, korrand::io::Format::Json, "A.json");
    korrand::DashStats stats;
    for (auto _ : state) {
        korrand::io::Document out = TheHost().Dash(doc, {}, &stats);
        benchmark::DoNotOptimize(out.objects.data());
    }
    state.counters["points"] = static_cast<double>(stats.pointsOut);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(stats.pointsOut),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

const korrand::io::Document& DashedA() {
    static const korrand::io::Document dashed = [] {
        std::istringstream in(CaseAJson());
        const korrand::io::Document doc =
            korrand::io::Read(in, korrand::io::Format::Json, "A.json");
        return TheHost().Dash(doc, {}, nullptr);
    }();
    return dashed;
}

void CliWrite(benchmark::State& state) {
    const korrand::io::Document& dashed = DashedA();
    int64_t bytes = 0;
    for (auto _ : state) {
        CountingBuf buf;
        std::ostream out(&buf);
        korrand::io::Write(out, korrand::io::Format::Json, dashed);
        bytes = buf.bytes;
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// Reference: the same document through nlohmann's DOM, as a program using the library plainly
// would read and write it.
void NlohmannRead(benchmark::State& state) {
    const std::string& text = CaseAJson();
    for (auto _ : state) {
        const nlohmann::json j = nlohmann::json::parse(text);
        korrand::io::Document doc;
        auto& object = doc.objects.emplace_back();
        for (const auto& seg : j.at("segments")) {
            auto& out = object.segments.emplace_back();
            out.reserve(seg.size());
            for (const auto& p : seg)
                out.push_back({p[0].get<double>(), p[1].get<double>(),
                               p.size() > 2 ? p[2].get<double>() : 0.0});
        }
        benchmark::DoNotOptimize(doc.objects.data());
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(text.size()) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void NlohmannWrite(benchmark::State& state) {
    const korrand::io::Document& dashed = DashedA();
    int64_t bytes = 0;
    for (auto _ : state) {
        nlohmann::json segments = nlohmann::json::array();
        for (const auto& seg : dashed.objects.front().segments) {
            nlohmann::json s = nlohmann::json::array();
            for (const auto& p : seg) s.push_back({p.x, p.y, p.z});
            segments.push_back(std::move(s));
        }
        nlohmann::json j = {{"segments", std::move(segments)}};
        CountingBuf buf;
        std::ostream out(&buf);
        out << j;
        bytes = buf.bytes;
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

const std::string& CaseAJson() {
    static const std::string text = [] {
        std::ostringstream out;
        korrand::io::Write(out, korrand::io::Format::Json,
                           ToDocument(GetCase("A", ShapeA()).input));
        return out.str();
    }();
    return text;
}

namespace {

// ---- Registration

void RegisterPair(const std::string& name, std::function<CaseShape()> shape) {
    benchmark::RegisterBenchmark(
        (name + "/modify").c_str(),
        [name, shape](benchmark::State& s) { ModifyCase(s, GetCase(name, shape())); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        (name + "/floor").c_str(),
        [name, shape](benchmark::State& s) { FloorCase(s, GetCase(name, shape())); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

void RegisterAll(bool sizes) {
    RegisterPair("A", ShapeA);
    RegisterPair("B", ShapeB);
    RegisterPair("C", ShapeC);
    RegisterPair("D", ShapeD);
    RegisterPair("E", ShapeE);
    // The floor with a branch-free cursor, for reference beside the plain one.
    for (const auto& [name, shape] : std::vector<std::pair<std::string, CaseShape (*)()>>{
             {"A", ShapeA}, {"B", ShapeB}, {"E", ShapeE}}) {
        benchmark::RegisterBenchmark((name + "/floor_tuned").c_str(),
                                     [name = name, shape = shape](benchmark::State& s) {
                                         FloorCase(s, GetCase(name, shape()), true);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (int threads : {1, 2}) {
        const std::string suffix = "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(
            ("F/modify" + suffix).c_str(),
            [threads](benchmark::State& s) { ParallelModify(s, GetCase("A", ShapeA()), threads); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("F/floor" + suffix).c_str(),
            [threads](benchmark::State& s) { ParallelFloor(s, GetCase("A", ShapeA()), threads); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("CLI/read", CliRead)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CLI/dash", CliDash)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CLI/write", CliWrite)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CLI/nlohmann_read", NlohmannRead)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CLI/nlohmann_write", NlohmannWrite)
        ->Unit(benchmark::kMillisecond);

    if (!sizes) return;
    // Time against input size: points per segment with the dash count of A, and the dash
    // count with A's input.
    const int32_t segs = g_tiny ? 20 : 1000;
    for (int32_t perSegment : g_tiny ? std::vector<int32_t>{10, 100}
                                     : std::vector<int32_t>{10, 30, 100, 300, 1000, 3000}) {
        RegisterPair("Size/points:" + std::to_string(static_cast<int64_t>(segs) * perSegment),
                     [segs, perSegment] {
                         return CaseShape{segs, perSegment, {}};
                     });
    }
    for (int32_t count : g_tiny ? std::vector<int32_t>{10, 100}
                                : std::vector<int32_t>{10, 30, 100, 300, 1000, 3000}) {
        RegisterPair("Size/dashes:" + std::to_string(static_cast<int64_t>(segs) * count),
                     [segs, count] {
                         CaseShape s = ShapeA();
                         s.segments = segs;
                         s.settings.count = count;
                         return s;
                     });
    }
}

}  // namespace bench
