// Modifier objects of the loaded plug-in evaluated from several threads at once, as a host
// evaluates many splines in parallel: every result must equal, bit for bit, the serial one, and
// nothing may be left alive. CI also runs this test under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "host_model.h"
#include "test_support.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 6;

struct Setting {
    int32_t id;
    char type;  // 'L' long, 'B' bool, 'R' real
    double value;
};

// Eight modifiers: defaults, and mixes of every parameter, jitter included.
const std::vector<std::vector<Setting>> kModifiers = {
    {},
    {{KORRAND_COUNT, 'L', 37}, {KORRAND_SUBDIVISION, 'L', 5}},
    {{KORRAND_JITTER, 'R', 0.5}, {KORRAND_SEED, 'L', 7}},
    {{KORRAND_JITTER, 'R', 2.0}, {KORRAND_RELATIVE, 'B', 1}, {KORRAND_SEED, 'L', -123456}},
    {{KORRAND_OFFSET, 'R', 0.3}, {KORRAND_START, 'R', 0.1}, {KORRAND_END, 'R', 0.85}},
    {{KORRAND_CLOSED, 'B', 0}, {KORRAND_COUNT, 'L', 400}, {KORRAND_SUBDIVISION, 'L', 0}},
    {{KORRAND_JITTER, 'R', 0.8},
     {KORRAND_OFFSET, 'R', -1.25},
     {KORRAND_RELATIVE, 'B', 1},
     {KORRAND_CLOSED, 'B', 0},
     {KORRAND_COUNT, 'L', 60}},
    {{KORRAND_COUNT, 'L', 3}, {KORRAND_SUBDIVISION, 'L', 98}, {KORRAND_OFFSET, 'R', 0.999}},
};

struct Shape {
    std::vector<HostVector> points;
    std::vector<int32_t> counts;
};

std::vector<Shape> Shapes() {
    std::vector<Shape> shapes;
    shapes.push_back({{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {4}});
    shapes.push_back(
        {{{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {10, 10, 0}, {12, 10, 0}, {12, 14, 0}}, {3, 3}});
    Shape wiggle;
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> coord(-20, 20);
    for (int s = 0; s < 5; ++s) {
        const int n = 3 + s * 11;
        for (int i = 0; i < n; ++i) wiggle.points.push_back({coord(rng), coord(rng), coord(rng)});
        wiggle.counts.push_back(n);
    }
    shapes.push_back(wiggle);
    return shapes;
}

struct Output {
    bool ok = false;
    std::vector<HostVector> points;
    std::vector<HostSegment> segments;
};

bool operator==(const Output& a, const Output& b) {
    return a.ok == b.ok && a.points.size() == b.points.size() &&
           a.segments.size() == b.segments.size() &&
           (a.points.empty() || std::memcmp(a.points.data(), b.points.data(),
                                            a.points.size() * sizeof(HostVector)) == 0) &&
           (a.segments.empty() || std::memcmp(a.segments.data(), b.segments.data(),
                                              a.segments.size() * sizeof(HostSegment)) == 0);
}

void Apply(hostmodel::Plugin::Instance& inst, const std::vector<Setting>& settings) {
    const HostFunctionTable* t = hostmodel::Table();
    HostContainer* bc = hostmodel::Container(inst.node);
    for (const Setting& s : settings) {
        if (s.type == 'L') t->container.SetLong(bc, s.id, static_cast<int32_t>(s.value));
        if (s.type == 'B') t->container.SetBool(bc, s.id, static_cast<int32_t>(s.value));
        if (s.type == 'R') t->container.SetReal(bc, s.id, s.value);
    }
}

Output Evaluate(hostmodel::Plugin& p, const hostmodel::Plugin::Instance& inst, const Shape& shape) {
    HostAtom* op = hostmodel::NewLineObject(shape.points, shape.counts);
    Output out;
    out.ok = p.Modify(inst, op);
    out.points = hostmodel::Points(op);
    out.segments = hostmodel::Segments(op);
    hostmodel::FreeObject(op);
    return out;
}

class Concurrency : public LoadedPluginTest {};

TEST_F(Concurrency, ParallelEvaluationEqualsSerialBitForBit) {
    {
        hostmodel::Plugin* p = plugin_.get();

        std::vector<hostmodel::Plugin::Instance> mods;
        for (const auto& settings : kModifiers) {
            auto inst = p->Create(ID_KORRAND);
            ASSERT_TRUE(inst);
            Apply(*inst, settings);
            mods.push_back(*inst);
        }
        const std::vector<Shape> shapes = Shapes();

        // The serial reference, and a check that the settings really differ.
        std::vector<std::vector<Output>> expected(mods.size());
        for (size_t m = 0; m < mods.size(); ++m)
            for (const Shape& shape : shapes) {
                expected[m].push_back(Evaluate(*p, mods[m], shape));
                ASSERT_TRUE(expected[m].back().ok);
                ASSERT_FALSE(expected[m].back().points.empty()) << "modifier " << m;
            }
        for (size_t m = 1; m < mods.size(); ++m)
            EXPECT_FALSE(expected[m][2] == expected[0][2]) << "modifier " << m;

        std::atomic<int> ready{0};
        std::atomic<int> mismatches{0};
        std::atomic<int> evaluations{0};
        auto worker = [&](int w) {
            // Each thread also makes, uses and destroys an object of its own meanwhile.
            auto own = p->Create(ID_KORRAND);
            if (own) Apply(*own, kModifiers[static_cast<size_t>(w) % kModifiers.size()]);
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                for (size_t k = 0; k < mods.size(); ++k) {
                    // Every thread walks the objects in its own order.
                    const size_t m = (k * 3 + static_cast<size_t>(w + round)) % mods.size();
                    for (size_t s = 0; s < shapes.size(); ++s) {
                        if (!(Evaluate(*p, mods[m], shapes[s]) == expected[m][s]))
                            mismatches.fetch_add(1);
                        evaluations.fetch_add(1);
                    }
                }
                if (own) {
                    const size_t m = static_cast<size_t>(w) % kModifiers.size();
                    if (!(Evaluate(*p, *own, shapes[2]) == expected[m][2])) mismatches.fetch_add(1);
                    evaluations.fetch_add(1);
                }
            }
            if (own)
                p->Destroy(*own);
            else
                mismatches.fetch_add(1000);  // creation must not fail here
        };
        std::vector<std::thread> threads;
        for (int w = 0; w < kThreads; ++w) threads.emplace_back(worker, w);
        for (std::thread& t : threads) t.join();

        EXPECT_EQ(mismatches.load(), 0);
        EXPECT_EQ(evaluations.load(),
                  kThreads * kRounds * static_cast<int>(mods.size() * shapes.size() + 1));
        for (auto& inst : mods) p->Destroy(inst);
    }
}

}  // namespace
