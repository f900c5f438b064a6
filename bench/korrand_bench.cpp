// The benchmarks' command line: the modifier's cases (cases.h), each beside the floor
// (workload.h) on the same input, or one of the self-checks (check.h).
//
//   korrand_bench [--tiny] [--sizes] [--check] [--digest] [--write-json FILE] [benchmark flags]
//
// --tiny shrinks every case so that the whole suite runs in seconds (CI); --sizes adds the
// series of growing inputs; --check compares the floor's layout with a recorded run of the
// plug-in and checks that allocations do not grow with the number of samples; --digest prints
// a hash of every case's output, for comparing two builds bit for bit; --write-json writes case
// A as a JSON file for the korrand executable and exits.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cases.h"
#include "check.h"

int main(int argc, char** argv) {
    bool check = false, sizes = false, digest = false;
    std::string jsonOut;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tiny") == 0)
            bench::SetTiny(true);
        else if (std::strcmp(argv[i], "--check") == 0)
            check = true;
        else if (std::strcmp(argv[i], "--digest") == 0)
            digest = true;
        else if (std::strcmp(argv[i], "--sizes") == 0)
            sizes = true;
        else if (std::strcmp(argv[i], "--write-json") == 0 && i + 1 < argc)
            jsonOut = argv[++i];
        else
            rest.push_back(argv[i]);
    }
    if (check) return bench::Check();
    if (digest) return bench::Digest();
    if (!jsonOut.empty()) {
        std::ofstream out(jsonOut, std::ios::binary);
        out << bench::CaseAJson();
        return out ? 0 : 1;
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;
    bench::RegisterAll(sizes);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
