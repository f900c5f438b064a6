// Growable array of plain fixed-size elements, all memory from the host. Storage grows in
// whole blocks, with spare room kept in front as well as behind so that inserts move the
// shorter side. A failed insert leaves the array exactly as it was.
#ifndef KORRAND_GE_DYNAMICARRAY_H
#define KORRAND_GE_DYNAMICARRAY_H

#include <string.h>
#include <new>

#include "ge_types.h"

class GeDynamicArrayBase {
public:
    GeDynamicArrayBase(Int64 blockSize, Int64 elementSize)
        : block_(nullptr),
          data_(nullptr),
          front_(0),
          capacity_(0),
          blockSize_(blockSize),
          count_(0),
          elementSize_(elementSize) {}
    ~GeDynamicArrayBase() { FreeStorage(); }
    GeDynamicArrayBase(const GeDynamicArrayBase&) = delete;
    GeDynamicArrayBase& operator=(const GeDynamicArrayBase&) = delete;

    // Inserts k elements before position n (n may lie past the end: the gap joins the array).
    // clear zero-fills the gap and the new elements.
    bool InsertElements(Int64 n, Int64 k, bool clear) {
        // Appending with room behind: what the general path does then, inline.
        if (n == count_ && k > 0 && block_ != nullptr && k <= capacity_ - front_ - count_) {
            if (clear) memset(Bytes() + n * elementSize_, 0, static_cast<size_t>(k * elementSize_));
            count_ += k;
            return true;
        }
        return InsertElementsAnywhere(n, k, clear);
    }

    void SetEmpty() { count_ = 0; }
    // Drops elements from the end; used to take back a partly appended run.
    void Truncate(Int64 count) {
        if (count >= 0 && count < count_) count_ = count;
    }
    void FreeStorage();

    Int64 GetCount() const { return count_; }
    Int64 GetCapacity() const { return capacity_; }
    Int64 GetFront() const { return front_; }
    Int64 GetBlockSize() const { return blockSize_; }
    bool HasStorage() const { return block_ != nullptr; }

protected:
    char* Bytes() const { return static_cast<char*>(data_); }
    bool InsertElementsAnywhere(Int64 n, Int64 k, bool clear);
    // Takes one more element behind the last when the storage already has room for it: what
    // InsertElements does then, less the clearing the caller overwrites anyway.
    bool GrowInPlace() {
        if (block_ == nullptr || front_ + count_ >= capacity_) return false;
        ++count_;
        return true;
    }

private:
    void* block_;
    void* data_;
    Int64 front_;
    Int64 capacity_;
    Int64 blockSize_;
    Int64 count_;
    Int64 elementSize_;
};

template <typename T, bool Construct = false>
class GeDynamicArray : public GeDynamicArrayBase {
public:
    explicit GeDynamicArray(Int64 blockSize) : GeDynamicArrayBase(blockSize, sizeof(T)) {}

    bool InsertElements(Int64 n, Int64 k, bool clear, bool construct = Construct) {
        const Int64 before = GetCount();
        if (!GeDynamicArrayBase::InsertElements(n, k, clear)) return false;
        if (construct && k > 0) {
            // Gap elements first, then the new ones, as the insert laid them out.
            for (Int64 i = before < n ? before : n; i < n + k; ++i) new (&At(i)) T();
        }
        return true;
    }
    // Appends one element.
    bool Append(const T& value) {
        const Int64 n = GetCount();
        if (GrowInPlace()) {
            At(n) = value;
            return true;
        }
        const bool clear = true;  // zeroed first, as the general insert leaves every new element
        if (!InsertElements(n, 1, clear)) return false;
        At(n) = value;
        return true;
    }

    T* GetData() const { return reinterpret_cast<T*>(Bytes()); }
    T& At(Int64 i) const { return GetData()[i]; }
    T& operator[](Int64 i) const { return GetData()[i]; }
};

#endif
