// The benchmark's self-checks: --check and --digest.
#ifndef KORRAND_BENCH_CHECK_H
#define KORRAND_BENCH_CHECK_H

namespace bench {

// The floor's layout is the plug-in's, and allocations do not follow samples. 0 when all hold.
int Check();
// A hash of every case's output, full size, for comparing two builds bit for bit.
int Digest();

}  // namespace bench

#endif
