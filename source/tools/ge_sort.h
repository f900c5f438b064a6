// In-place heapsort over a run of equally sized elements, ordered by a virtual comparison.
#ifndef KORRAND_GE_SORT_H
#define KORRAND_GE_SORT_H

#include "ge_types.h"

class GeSortAndSearch {
public:
    GeSortAndSearch() = default;
    // Negative when a orders before b, zero when equal, positive otherwise.
    virtual Int32 Compare(const void* a, const void* b);

    // Sorts n elements of size bytes each, starting at base. No allocation, O(n log n).
    void Sort(void* base, Int32 n, Int32 size);

protected:
    ~GeSortAndSearch() = default;
};

// Ascending order of 64-bit doubles.
class RealSort : public GeSortAndSearch {
public:
    Int32 Compare(const void* a, const void* b) override;
};

// RealSort's Sort on n doubles: the same heapsort making the same comparisons in the same
// order, so the same result, without a virtual call and a byte-wise swap per step.
void SortReals(Float* v, Int32 n);

#endif
