// The heapsort behind GeSortAndSearch and RealSort, and SortReals, its copy-free form for doubles.
#include "ge_sort.h"

#include <math.h>
#include <string.h>

#include "platform.h"

Int32 GeSortAndSearch::Compare(const void*, const void*) {
    return 0;
}

namespace {
void Swap(char* a, char* b, Int32 size) {
    if (size % 4 == 0) {
        for (Int32 i = 0; i < size; i += 4) {
            UInt32 x, y;
            memcpy(&x, a + i, 4);
            memcpy(&y, b + i, 4);
            memcpy(a + i, &y, 4);
            memcpy(b + i, &x, 4);
        }
    } else {
        for (Int32 i = 0; i < size; ++i) {
            const char t = a[i];
            a[i] = b[i];
            b[i] = t;
        }
    }
}

// The heapsort on positions 1 .. n. less(p, q) is "Compare(p, q) < 0" and swap(p, q) exchanges
// two positions; both sorters below share these steps so they make the same comparisons.
template <typename Less, typename Exchange>
void HeapSort(Int64 n, Less less, Exchange swap) {
    Int64 l = n / 2 + 1;
    Int64 r = n;
    for (;;) {
        Int64 i;
        if (l > 1) {
            --l;
            i = l;
        } else {
            swap(1, r);
            --r;
            if (r == 1) return;
            i = 1;
        }
        Int64 j = 2 * i;
        while (j <= r) {
            if (j < r && less(j, j + 1)) ++j;
            if (!less(i, j)) break;
            swap(i, j);
            i = j;
            j = 2 * j;
        }
    }
}
}  // namespace

void GeSortAndSearch::Sort(void* base, Int32 n, Int32 size) {
    if (n < 2 || size <= 0) return;
    // Position p is the element at base + (p - 1) * size.
    char* const first = static_cast<char*>(base);
    auto at = [first, size](Int64 p) { return first + (p - 1) * size; };
    HeapSort(
        n, [&](Int64 p, Int64 q) { return Compare(at(p), at(q)) < 0; },
        [&](Int64 p, Int64 q) { Swap(at(p), at(q), size); });
}

Int32 RealSort::Compare(const void* a, const void* b) {
    const Float x = *static_cast<const Float*>(a);
    const Float y = *static_cast<const Float*>(b);
#if KORRAND_MACOS_ARITHMETIC
    // macOS x86-64 answers 0 for NaN; elsewhere NaN falls through to +1 in both directions.
    if (isnan(x) || isnan(y)) return 0;
#endif
    if (x == y) return 0;
    if (x < y) return -1;
    return 1;
}

void SortReals(Float* v, Int32 n) {
    if (n < 2) return;
    // RealSort::Compare(a, b) < 0 is exactly a < b, NaN included, in every build (NaN answers
    // +1, or 0 on macOS: never below 0), so both sorts make the same moves.
    HeapSort(
        n, [v](Int64 p, Int64 q) { return v[p - 1] < v[q - 1]; },
        [v](Int64 p, Int64 q) {
            const Float t = v[p - 1];
            v[p - 1] = v[q - 1];
            v[q - 1] = t;
        });
}
