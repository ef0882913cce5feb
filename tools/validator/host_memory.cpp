#include "tools/validator/host_memory.h"

#include <algorithm>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace validator {

namespace {

size_t pageBytes() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return size_t(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

GuardedRegion::GuardedRegion(size_t capacityBytes) {
    const size_t page = pageBytes();
    const size_t wanted = std::max(capacityBytes, kCheckedBytesBefore + 1);
    if (wanted > SIZE_MAX - 3 * page) return;
    const size_t pages = (wanted + page - 1) / page;
    capacity_ = pages * page;
    mappedBytes_ = capacity_ + 2 * page;
#if defined(_WIN32)
    void* p = VirtualAlloc(nullptr, mappedBytes_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) return;
    base_ = static_cast<unsigned char*>(p);
    DWORD old = 0;
    if (!VirtualProtect(base_, page, PAGE_NOACCESS, &old) ||
        !VirtualProtect(base_ + page + capacity_, page, PAGE_NOACCESS, &old)) {
        VirtualFree(base_, 0, MEM_RELEASE);
        base_ = nullptr;
        return;
    }
#else
    void* p = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return;
    base_ = static_cast<unsigned char*>(p);
    if (mprotect(base_, page, PROT_NONE) != 0 || mprotect(base_ + page + capacity_, page, PROT_NONE) != 0) {
        munmap(base_, mappedBytes_);
        base_ = nullptr;
        return;
    }
#endif
    data_ = base_ + page;
}

GuardedRegion::~GuardedRegion() {
    if (base_ == nullptr) return;
#if defined(_WIN32)
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, mappedBytes_);
#endif
}

unsigned char* GuardedRegion::place(size_t bytes, bool fill) {
    if (data_ == nullptr || bytes > capacity_) return nullptr;
    arrayBytes_ = bytes;
    array_ = data_ + capacity_ - bytes;
    const size_t before = std::min(kCheckedBytesBefore, capacity_ - bytes);
    std::memset(array_ - before, kSentinelByte, before + (fill ? bytes : 0));
    return array_;
}

bool GuardedRegion::beforeIntact() const {
    if (array_ == nullptr) return true;
    const size_t before = std::min(kCheckedBytesBefore, capacity_ - arrayBytes_);
    for (const unsigned char* p = array_ - before; p < array_; ++p) {
        if (*p != kSentinelByte) return false;
    }
    return true;
}

bool GuardedRegion::untouched(size_t offset, size_t length) const {
    for (size_t i = offset; i < offset + length && i < arrayBytes_; ++i) {
        if (array_[i] != kSentinelByte) return false;
    }
    return true;
}

}  // namespace validator
