// Writes the dashes that the built plug-in library makes of a fixed set of line objects, every
// coordinate as the hex of its double, so that the outputs of two builds (Linux and Windows)
// can be compared byte for byte.
//
//   dash_dump [--macho] PLUGIN_FOLDER OUTPUT_FILE
//
// --macho (where built with the Mach-O loader) loads the folder's macOS KorrandModifier.dylib
// through tests/macho/macho_loader.h instead of this platform's library.
//
// Inputs are made with +, -, * and / only, which round the same everywhere.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_model.h"
#include "okorrand.h"
#ifdef KORRAND_MACHO_LOADER
#include "macho_loader.h"
#endif

namespace {

// Short names for the plug-in's parameter ids.
enum : int32_t {
    kCount = KORRAND_COUNT,
    kRelative = KORRAND_RELATIVE,
    kSubdivision = KORRAND_SUBDIVISION,
    kOffset = KORRAND_OFFSET,
    kClosed = KORRAND_CLOSED,
    kStart = KORRAND_START,
    kEnd = KORRAND_END,
    kSeed = KORRAND_SEED,
    kJitter = KORRAND_JITTER,
};

struct Setting {
    int32_t id;
    char kind;  // 'L'ong, 'B'ool, 'R'eal
    double value;
};

struct Input {
    std::vector<HostVector> points;
    std::vector<int32_t> counts, closed;
};

Input LShape() {
    return {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {3}, {0}};
}

Input Square() {
    return {{{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, {4}, {1}};
}

// A zigzag, a parabola arc and a 3D twisted curve, in one object.
Input ThreeSegments() {
    Input in;
    for (int i = 0; i < 9; ++i) in.points.push_back({i * 0.375, (i % 2) * 0.8 - 0.1, 0.0});
    for (int i = 0; i <= 24; ++i) {
        const double t = i / 24.0 - 0.5;
        in.points.push_back({5.0 + t * 3.0, 1.0 - t * t * 4.0, t / 7.0});
    }
    for (int i = 0; i <= 30; ++i) {
        const double t = i / 30.0;
        const double c = 1.0 - t * t * 2.0, s = t * 2.0 * (1.0 - t);
        in.points.push_back({-3.0 + c, s * 1.5, t * 0.6 - c * s});
    }
    in.counts = {9, 25, 31};
    in.closed = {0, 0, 1};
    return in;
}

// Very unequal segments, one of them degenerate (all points in one place).
Input Unequal() {
    Input in;
    in.points = {{0, 0, 0},       {0.001, 0, 0},   {5, 5, 5},       {5, 5, 5},
                 {-1e3, 1e-3, 7}, {1e3, -1e-3, 7}, {1e3, 250.5, -7}};
    in.counts = {2, 2, 3};
    in.closed = {0, 0, 0};
    return in;
}

struct Case {
    const char* name;
    Input (*input)();
    std::vector<Setting> settings;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"lshape-defaults", LShape, {}},
        {"square-defaults", Square, {}},
        {"three-defaults", ThreeSegments, {}},
        {"unequal-defaults", Unequal, {}},
        {"square-offset-jitter",
         Square,
         {{kCount, 'L', 7}, {kOffset, 'R', 0.3}, {kJitter, 'R', 0.5}, {kSeed, 'L', 7}}},
        {"three-relative-open",
         ThreeSegments,
         {{kCount, 'L', 40}, {kRelative, 'B', 1}, {kClosed, 'B', 0}, {kSubdivision, 'L', 4}}},
        {"three-range-jitter",
         ThreeSegments,
         {{kCount, 'L', 33},
          {kStart, 'R', 0.1},
          {kEnd, 'R', 0.85},
          {kOffset, 'R', -0.75},
          {kJitter, 'R', 2.5},
          {kSeed, 'L', 12345},
          {kSubdivision, 'L', 9}}},
        {"unequal-relative-jitter",
         Unequal,
         {{kCount, 'L', 250},
          {kRelative, 'B', 1},
          {kJitter, 'R', 10},
          {kSeed, 'L', -3},
          {kOffset, 'R', 3.6}}},
        {"lshape-one-dash",
         LShape,
         {{kCount, 'L', 1},
          {kClosed, 'B', 0},
          {kStart, 'R', 0.25},
          {kEnd, 'R', 0.5},
          {kSubdivision, 'L', 98}}},
        {"square-many-jitter",
         Square,
         {{kCount, 'L', 10000}, {kJitter, 'R', 0.01}, {kSeed, 'L', 0}, {kOffset, 'R', 0.999}}},
    };
    return cases;
}

uint64_t Bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

bool Run(hostmodel::Plugin& plugin, const Case& c, FILE* out) {
    auto inst = plugin.Create(ID_KORRAND);
    if (!inst) return false;
    const HostFunctionTable* t = hostmodel::Table();
    HostContainer* bc = hostmodel::Container(inst->node);
    for (const Setting& s : c.settings) {
        if (s.kind == 'L') t->container.SetLong(bc, s.id, static_cast<int32_t>(s.value));
        if (s.kind == 'B') t->container.SetBool(bc, s.id, s.value != 0.0 ? 1 : 0);
        if (s.kind == 'R') t->container.SetReal(bc, s.id, s.value);
    }
    const Input in = c.input();
    HostAtom* op = hostmodel::NewLineObject(in.points, in.counts);
    std::vector<HostSegment> segs = hostmodel::Segments(op);
    for (size_t i = 0; i < segs.size() && i < in.closed.size(); ++i) segs[i].closed = in.closed[i];
    hostmodel::SetSegments(op, segs);
    const bool ok = plugin.Modify(*inst, op);
    const std::vector<HostVector> points = hostmodel::Points(op);
    segs = hostmodel::Segments(op);
    std::fprintf(out, "case %s ok %d points %llu segments %llu\n", c.name, ok ? 1 : 0,
                 static_cast<unsigned long long>(points.size()),
                 static_cast<unsigned long long>(segs.size()));
    for (const HostSegment& s : segs)
        std::fprintf(out, "s %" PRId32 " %" PRId32 "\n", s.cnt, s.closed);
    for (const HostVector& p : points)
        std::fprintf(out, "p %016" PRIx64 " %016" PRIx64 " %016" PRIx64 "\n", Bits(p.x), Bits(p.y),
                     Bits(p.z));
    hostmodel::FreeObject(op);
    plugin.Destroy(*inst);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef KORRAND_MACHO_LOADER
    if (argc == 4 && std::strcmp(argv[1], "--macho") == 0) {
        hostmodel::SetLibraryLoader(&macho::HostModelLoader());
        --argc;
        ++argv;
    }
#endif
    if (argc != 3) {
        std::fprintf(stderr, "usage: dash_dump [--macho] PLUGIN_FOLDER OUTPUT_FILE\n");
        return 2;
    }
    std::string error;
    auto plugin = hostmodel::Plugin::Load(argv[1], &error);
    if (!plugin || !plugin->Start(&error)) {
        std::fprintf(stderr, "dash_dump: %s\n", error.c_str());
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "dash_dump: cannot write %s\n", argv[2]);
        return 1;
    }
    int failed = 0;
    for (const Case& c : Cases()) failed += Run(*plugin, c, out) ? 0 : 1;
    const bool written = std::fclose(out) == 0;
    plugin->Shutdown();
    std::fprintf(stderr, "dash_dump: %d cases, %d failed to dash\n",
                 static_cast<int>(Cases().size()), failed);
    return failed == 0 && written ? 0 : 1;
}
