// The growing, moving and releasing of GeDynamicArray storage, all of it through the host.
#include "ge_dynamicarray.h"

#include <string.h>

#include "ge_memory.h"

namespace {
// The host attributes every block and report to a source position: this name and one of the
// fixed line numbers below. They are the array's tracking labels, kept stable so the host's
// memory statistics stay comparable between builds, not lines of this file.
const char kFile[] = "ge_dynamicarray";
constexpr Int32 kLineNoBlockSize = 833;   // a report: an array without a block size grew
constexpr Int32 kLineFrontAlloc = 855;    // first storage, growing at the front
constexpr Int32 kLineFrontRealloc = 856;  // larger storage, growing at the front
constexpr Int32 kLineBackAlloc = 892;     // first storage, growing at the back
constexpr Int32 kLineBackRealloc = 893;   // larger storage, growing at the back

// a * b into *out, false when it leaves the signed 64-bit range (operands are >= 0).
bool MultiplyFits(Int64 a, Int64 b, Int64* out) {
    if (a != 0 && b > INT64_MAX / a) return false;
    *out = a * b;
    return true;
}
}  // namespace

bool GeDynamicArrayBase::InsertElementsAnywhere(Int64 n, Int64 k, bool clear) {
    if (n < 0) return false;
    if (k <= 0) return true;

    const Int64 oldCount = count_;
    const Int64 base = oldCount > n ? oldCount : n;
    if (base > INT64_MAX - k) return false;
    const Int64 newCount = base + k;

    if (blockSize_ <= 0) {
        GeStopReport(kLineNoBlockSize, kFile);
        return false;
    }
    const Int64 E = elementSize_;

    if (n < (oldCount >> 1)) {
        // Front half: make room in front of the first element.
        const Int64 f = front_ - k;
        if (f >= 0) {
            memmove(Bytes() - k * E, Bytes(), static_cast<size_t>(n * E));
            front_ = f;
            data_ = static_cast<char*>(block_) + f * E;
        } else {
            // The smallest multiple of the block size that is at least -f.
            const Int64 grow = (1 - (f + 1) / blockSize_) * blockSize_;
            Int64 bytes = 0;
            if (capacity_ > INT64_MAX - grow || !MultiplyFits(capacity_ + grow, E, &bytes))
                return false;
            void* mem = block_ == nullptr ? GeAllocBlock(bytes, kLineFrontAlloc, kFile)
                                          : GeReallocBlock(block_, bytes, kLineFrontRealloc, kFile);
            if (mem == nullptr) return false;
            // The old elements sit where they were relative to the block start.
            char* old = static_cast<char*>(mem) + front_ * E;
            block_ = mem;
            capacity_ += grow;
            front_ = f + grow;
            data_ = static_cast<char*>(mem) + front_ * E;
            memmove(Bytes() + (n + k) * E, old + n * E, static_cast<size_t>((oldCount - n) * E));
            memmove(Bytes(), old, static_cast<size_t>(n * E));
        }
    } else {
        // Back half, every append included.
        if (front_ > INT64_MAX - newCount) return false;
        const Int64 blocks = (front_ + newCount - 1) / blockSize_ + 1;
        if (blocks > INT64_MAX / blockSize_) return false;
        const Int64 needed = blocks * blockSize_;
        if (needed > capacity_) {
            Int64 bytes = 0;
            if (!MultiplyFits(needed, E, &bytes)) return false;
            void* mem = block_ == nullptr ? GeAllocBlock(bytes, kLineBackAlloc, kFile)
                                          : GeReallocBlock(block_, bytes, kLineBackRealloc, kFile);
            if (mem == nullptr) return false;
            block_ = mem;
            capacity_ = needed;
            data_ = static_cast<char*>(mem) + front_ * E;
        }
        if (n < oldCount)
            memmove(Bytes() + (n + k) * E, Bytes() + n * E,
                    static_cast<size_t>((oldCount - n) * E));
    }

    if (clear) {
        if (oldCount < n)
            memset(Bytes() + oldCount * E, 0, static_cast<size_t>((n - oldCount) * E));
        memset(Bytes() + n * E, 0, static_cast<size_t>(k * E));
    }
    count_ = newCount;
    return true;
}

void GeDynamicArrayBase::FreeStorage() {
    if (block_ != nullptr) GeFree(block_);
    block_ = nullptr;
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    front_ = 0;
}
