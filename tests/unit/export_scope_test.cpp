// The floating-point guard every export enters, with x87 and SSE arithmetic
// that raises invalid, zero-divide and overflow inside it. On 32-bit Windows
// the C library's mathematics raises x87 flags; natively the plug-in's code
// seldom runs an x87 instruction, so the x87 half is driven here directly.
#include <gtest/gtest.h>

#include <cstdint>

#include "plugin/export_scope.h"
#include "tests/floating_point_state.h"

#if defined(__i386__) || defined(__x86_64__)

namespace {

using namespace fp_test;

// A host's state: its control words, and flags its own arithmetic raised.
void enterHostState(uint16_t x87Control, uint32_t mxcsr, uint16_t flags) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87Control));
    raiseX87Flags(flags);
    const uint32_t withFlags = mxcsr | flags;
    __asm__ volatile("ldmxcsr %0" : : "m"(withFlags));
}

// Invalid (square root of -1), zero-divide (1 / 0) and overflow (1e308
// squared, stored as a double) on the x87.
void raiseOnX87() {
    const double zero = 0.0, big = 1e308;
    double out;
    __asm__ volatile(
        "fld1\n\tfchs\n\tfsqrt\n\tfstp %%st(0)\n\t"
        "fld1\n\tfdivl %1\n\tfstp %%st(0)\n\t"
        "fldl %2\n\tfmul %%st(0), %%st(0)\n\tfstpl %0"
        : "=m"(out)
        : "m"(zero), "m"(big));
}

// The same three in SSE.
void raiseOnSse() {
    volatile float zero = 0.0f, one = 1.0f, big = 3e38f;
    volatile float out = zero / zero;
    out = one / zero;
    out = big * big;
    (void)out;
}

const HostState kHosts[] = {
    {"masked, nearest, no flags", kMaskedX87Control, kMaskedMxcsr, 0},
    {"masked, nearest, its own flags", kMaskedX87Control, kMaskedMxcsr, kHostsOwnFlags},
    {"unmasked, toward zero, no flags", kUnmaskedX87Control, kUnmaskedMxcsr, 0},
    {"unmasked, toward zero, its own flags", kUnmaskedX87Control, kUnmaskedMxcsr, kHostsOwnFlags},
};

class ExportScopeTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = readFloatingPointState(); }
    void TearDown() override { enterHostState(saved_.x87Control, saved_.mxcsr & 0xFFC0, 0); }

private:
    FloatingPointState saved_{};
};

void expectHandedBack(const FloatingPointState& before) {
    const FloatingPointState after = readFloatingPointState();
    EXPECT_EQ(after.x87Control, before.x87Control);
    EXPECT_EQ(after.x87Status & kX87ExceptionFlags, before.x87Status & kX87ExceptionFlags);
    EXPECT_EQ(after.mxcsr, before.mxcsr);
}

}  // namespace

TEST_F(ExportScopeTest, HandsBackTheHostsControlWordsAndFlagsWhateverWasRaisedInside) {
    for (const HostState& host : kHosts) {
        SCOPED_TRACE(host.what);
        enterHostState(host.x87Control, host.mxcsr, host.flags);
        const FloatingPointState before = readFloatingPointState();
        {
            plugin::ExportScope scope;
            raiseOnX87();
            raiseOnSse();
        }
        expectHandedBack(before);
    }
}

TEST_F(ExportScopeTest, TheScopeWithoutX87WorkHandsBackTheSseFlagsAndAnUnmaskedHostsX87State) {
    for (const HostState& host : kHosts) {
        SCOPED_TRACE(host.what);
        enterHostState(host.x87Control, host.mxcsr, host.flags);
        const FloatingPointState before = readFloatingPointState();
        {
            plugin::X87FreeExportScope scope;
            raiseOnSse();
        }
        expectHandedBack(before);
    }
    // A host that unmasks x87 exceptions has its x87 state swapped and
    // restored in full, flags included, even by this scope.
    for (const HostState& host : {kHosts[2], kHosts[3]}) {
        SCOPED_TRACE(host.what);
        enterHostState(host.x87Control, host.mxcsr, host.flags);
        const FloatingPointState before = readFloatingPointState();
        {
            plugin::X87FreeExportScope scope;
            raiseOnX87();
        }
        expectHandedBack(before);
    }
}

#endif
