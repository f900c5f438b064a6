// Counts every C++ heap allocation of the benchmark process.
#ifndef KORRAND_BENCH_ALLOC_COUNTER_H
#define KORRAND_BENCH_ALLOC_COUNTER_H

#include <cstdint>

namespace bench {

// C++ heap allocations made so far by any thread (operator new in all its forms).
int64_t HeapAllocations();

}  // namespace bench

#endif
