// Host arrays as a strict host hands them out: each one ends exactly at a
// page the process may not touch, so a write or read past its end faults at
// once, and the bytes before it hold a sentinel, so a write before its start
// is seen afterwards. Windows: VirtualAlloc and VirtualProtect(PAGE_NOACCESS);
// elsewhere mmap and mprotect(PROT_NONE).
#pragma once

#include <cstddef>
#include <cstdint>

namespace validator {

inline constexpr unsigned char kSentinelByte = 0xA5;

class GuardedRegion {
public:
    // Room for arrays of up to `capacityBytes`, between two inaccessible pages.
    // The pages are committed lazily, so a large region costs address space
    // only. ok() is false when the system could not provide it.
    explicit GuardedRegion(size_t capacityBytes);
    ~GuardedRegion();
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;

    bool ok() const { return data_ != nullptr; }
    size_t capacity() const { return capacity_; }

    // Places an array of `bytes` that ends at the trailing guard page and
    // fills it and the checked stretch before it with the sentinel. With
    // fill false only that stretch is filled, for arrays too large to fill.
    unsigned char* place(size_t bytes, bool fill = true);
    unsigned char* array() const { return array_; }
    size_t arrayBytes() const { return arrayBytes_; }

    // Whether the checked stretch before the array still holds the sentinel.
    bool beforeIntact() const;
    // Whether bytes [offset, offset + length) of the array hold the sentinel.
    bool untouched(size_t offset, size_t length) const;
    bool untouched() const { return untouched(0, arrayBytes_); }

    // Bytes before the array that are checked: a write further away than this
    // lands in the leading guard page or in memory the region does not own.
    static constexpr size_t kCheckedBytesBefore = 4096;

private:
    unsigned char* base_ = nullptr;  // the leading guard page
    size_t mappedBytes_ = 0;
    unsigned char* data_ = nullptr;  // first byte after the leading guard page
    size_t capacity_ = 0;            // whole pages between the guards
    unsigned char* array_ = nullptr;
    size_t arrayBytes_ = 0;
};

// Arrays of a fixed size, each in a region of its own, for calls with several
// out arguments.
template <typename T>
class HostArray {
public:
    explicit HostArray(size_t count) : region_(count * sizeof(T) > 0 ? count * sizeof(T) : 1), count_(count) {
        reset();
    }
    // Refills the sentinel; returns the array.
    T* reset() { return reinterpret_cast<T*>(region_.place(count_ * sizeof(T))); }
    T* data() const { return reinterpret_cast<T*>(region_.array()); }
    size_t count() const { return count_; }
    T& operator[](size_t i) const { return data()[i]; }
    bool beforeIntact() const { return region_.beforeIntact(); }
    bool untouched() const { return region_.untouched(); }
    bool untouched(size_t firstByte, size_t bytes) const { return region_.untouched(firstByte, bytes); }

private:
    GuardedRegion region_;
    size_t count_;
};

}  // namespace validator
