// The SOFA fuzz target's probe places a fault by the stack: these are the
// shapes of the reports it reads, from AddressSanitizer and from the stack
// a child sends on a signal. A fault of the reader's own must never be
// placed in a library, which would drop it from the run unseen.
#include "fuzz/fault_owner.h"

#include <gtest/gtest.h>

namespace {

using fuzz::Owner;
constexpr char kRoot[] = "/src/line-array/";

TEST(FaultOwner, TheInnermostFrameWithAnOwnerDecides) {
    // The sanitizer's runtime, the C and C++ libraries: nobody's, passed over.
    EXPECT_EQ(fuzz::firstOwner({"    #0 0x4f1a2b in __interceptor_memcpy /llvm/asan_interceptors.cpp:22",
                                "    #1 0x7f01 in abort (/lib/x86_64-linux-gnu/libc.so.6+0x2272e)",
                                "    #2 0x7f02 in std::terminate() (/lib/x86_64-linux-gnu/libstdc++.so.6+0xa1)",
                                "    #3 0x55 in balloon::readOpenFile /src/line-array/tools/balloon/sofa_reader.cpp:410:5",
                                "    #4 0x7f03 in H5Dread (/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x8c1)"},
                               kRoot),
              Owner::Ours);
    EXPECT_EQ(fuzz::firstOwner({"    #0 0x7f04 in memmove (/lib/x86_64-linux-gnu/libc.so.6+0x9e)",
                                "    #1 0x7f05 in (/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x12a)",
                                "    #2 0x55 in NC4_get_att /build/netcdf/libhdf5/nc4hdf.c:22",
                                "    #3 0x56 in balloon::textAttribute /src/line-array/tools/balloon/sofa_reader.cpp:70:13"},
                               kRoot),
              Owner::Library);
    EXPECT_EQ(fuzz::firstOwner({"    #0 0x7f06 in malloc /llvm/asan_malloc_linux.cpp:69",
                                "    #1 0x7f07 in nc_open (/lib/x86_64-linux-gnu/libnetcdf.so.19+0x55)"},
                               kRoot),
              Owner::Library);
    // Nothing placed: the input is kept, not set aside.
    EXPECT_EQ(fuzz::firstOwner({"    #0 0x7f08 in raise (/lib/x86_64-linux-gnu/libc.so.6+0x1)", "    #1 0x0 in ??"}, kRoot),
              Owner::Nobody);
    EXPECT_EQ(fuzz::firstOwner({}, kRoot), Owner::Nobody);
}

TEST(FaultOwner, AMemoryFaultBelongsToWhoeverAllocatedTheMemory) {
    // A library call overran a buffer the reader allocated: ours.
    const char overrunOurs[] =
        "==1==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x602 at pc 0x4f bp 0x7ff sp 0x7fe\n"
        "WRITE of size 64 at 0x602 thread T0\n"
        "    #0 0x4f1a2b in __asan_memcpy /llvm/asan_interceptors_memintrinsics.cpp:22\n"
        "    #1 0x7f10 in H5D__contig_readvv (/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x91)\n"
        "    #2 0x7f11 in nc_get_vara_double (/lib/x86_64-linux-gnu/libnetcdf.so.19+0x3a)\n"
        "0x602 is located 0 bytes to the right of 168-byte region\n"
        "allocated by thread T0 here:\n"
        "    #0 0x4f2000 in operator new(unsigned long) /llvm/asan_new_delete.cpp:95\n"
        "    #1 0x55 in balloon::readOpenFile /src/line-array/tools/balloon/sofa_reader.cpp:520:25\n";
    EXPECT_EQ(fuzz::reportOwner(overrunOurs, kRoot), Owner::Ours);
    // HDF5 read past a block HDF5 allocated: the library's, though our
    // frames lie further out on both stacks.
    const char libraryOwn[] =
        "==1==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x603\n"
        "READ of size 8 at 0x603 thread T0\n"
        "    #0 0x7f20 in H5HG_read (/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x11)\n"
        "    #1 0x56 in balloon::textAttribute /src/line-array/tools/balloon/sofa_reader.cpp:70:13\n"
        "allocated by thread T0 here:\n"
        "    #0 0x4f2001 in malloc /llvm/asan_malloc_linux.cpp:69\n"
        "    #1 0x7f21 in H5FL_blk_malloc (/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x22)\n"
        "    #2 0x57 in balloon::readOpenFile /src/line-array/tools/balloon/sofa_reader.cpp:390:9\n";
    EXPECT_EQ(fuzz::reportOwner(libraryOwn, kRoot), Owner::Library);
    // A null pointer read in the reader's own code: no allocation, ours.
    const char nullOurs[] =
        "==1==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000\n"
        "    #0 0x58 in balloon::sourceFrame /src/line-array/tools/balloon/sofa_reader.cpp:333:21\n"
        "    #1 0x7f30 in (/lib/x86_64-linux-gnu/libnetcdf.so.19+0x1)\n";
    EXPECT_EQ(fuzz::reportOwner(nullOurs, kRoot), Owner::Ours);
    // An allocation stack of the runtime alone leaves the fault's own stack
    // to decide.
    const char runtimeAllocation[] =
        "==1==ERROR: AddressSanitizer: heap-use-after-free on address 0x604\n"
        "    #0 0x7f40 in NC_free (/lib/x86_64-linux-gnu/libnetcdf.so.19+0x2)\n"
        "freed by thread T0 here:\n"
        "    #0 0x4f2002 in free /llvm/asan_malloc_linux.cpp:52\n";
    EXPECT_EQ(fuzz::reportOwner(runtimeAllocation, kRoot), Owner::Library);
}

}  // namespace
