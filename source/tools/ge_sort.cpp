#include "ge_sort.h"

#include <string.h>

Int32 GeSortAndSearch::Compare(const void*, const void*) { return 0; }

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
}  // namespace

void GeSortAndSearch::Sort(void* base, Int32 n, Int32 size) {
    if (n < 2 || size <= 0) return;
    // Positions are 1-based: position p is the element at base + (p - 1) * size.
    char* const first = static_cast<char*>(base);
    auto at = [first, size](Int64 p) { return first + (p - 1) * size; };

    Int64 l = n / 2 + 1;
    Int64 r = n;
    for (;;) {
        Int64 i;
        if (l > 1) {
            --l;
            i = l;
        } else {
            Swap(at(1), at(r), size);
            --r;
            if (r == 1) return;
            i = 1;
        }
        Int64 j = 2 * i;
        while (j <= r) {
            if (j < r && Compare(at(j), at(j + 1)) < 0) ++j;
            if (Compare(at(i), at(j)) >= 0) break;
            Swap(at(i), at(j), size);
            i = j;
            j = 2 * j;
        }
    }
}

Int32 RealSort::Compare(const void* a, const void* b) {
    const Float x = *static_cast<const Float*>(a);
    const Float y = *static_cast<const Float*>(b);
    if (x == y) return 0;
    if (x < y) return -1;
    return 1;
}

void SortReals(Float* v, Int32 n) {
    if (n < 2) return;
    // As in GeSortAndSearch::Sort, position p is element p - 1. RealSort's Compare(a, b) < 0
    // is a < b, and Compare(a, b) >= 0 its negation.
    auto at = [v](Int64 p) -> Float* { return v + (p - 1); };
    auto swap = [](Float* a, Float* b) {
        uint64_t x, y;
        memcpy(&x, a, 8);
        memcpy(&y, b, 8);
        memcpy(a, &y, 8);
        memcpy(b, &x, 8);
    };
    Int64 l = n / 2 + 1;
    Int64 r = n;
    for (;;) {
        Int64 i;
        if (l > 1) {
            --l;
            i = l;
        } else {
            swap(at(1), at(r));
            --r;
            if (r == 1) return;
            i = 1;
        }
        Int64 j = 2 * i;
        while (j <= r) {
            if (j < r && *at(j) < *at(j + 1)) ++j;
            if (!(*at(i) < *at(j))) break;
            swap(at(i), at(j));
            i = j;
            j = 2 * j;
        }
    }
}
