// The benchmark cases: the inputs and settings of A to E and their variants, the modifier object
// of the loaded plug-in that dashes them, and the registration of the timed cases.
#ifndef KORRAND_BENCH_CASES_H
#define KORRAND_BENCH_CASES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host_model.h"
#include "workload.h"

namespace bench {

constexpr uint64_t kSeedValue = 20261208;

// --tiny: every case shrunk so that the whole suite runs in seconds. Set before any case is made.
void SetTiny(bool tiny);

// One modifier object of the loaded plug-in with the case's parameters; destroyed with the object.
class Modifier {
public:
    explicit Modifier(const dash::DashSettings& s);
    ~Modifier();
    Modifier(const Modifier&) = delete;
    Modifier& operator=(const Modifier&) = delete;
    bool Modify(HostAtom* op) const;

private:
    hostmodel::Plugin::Instance inst_{};
};

struct CaseShape {
    int32_t segments, pointsPerSegment;
    dash::DashSettings settings;
};

// Host, object and C++ heap allocations so far.
struct Counts {
    int64_t hostAllocations, objectAllocations, heapAllocations;
};
Counts Snapshot();

// Cases A to E and variants that reach the other branches of the layout.
std::vector<std::pair<std::string, CaseShape>> Variants();

// Case A as the JSON file the korrand executable reads.
const std::string& CaseAJson();

// Registers every timed case with Google Benchmark; sizes adds the series of growing inputs.
void RegisterAll(bool sizes);

}  // namespace bench

#endif
