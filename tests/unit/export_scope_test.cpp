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

// What the body of a scope runs under, for hosts whose state differs from
// the plug-in's in one respect each: the scope holds the plug-in's state
// inside (exceptions masked, to nearest, no flush or denormals-are-zero, and
// where x87 code may run, 53-bit precision), and the host's comes back.
TEST_F(ExportScopeTest, EveryHeldBitIsThePluginsInsideAndTheHostsAfter) {
    struct Case {
        const char* what;
        uint16_t x87Control;
        uint32_t mxcsr;
    } cases[] = {
        {"denormals are zero, nothing else", kMaskedX87Control, kMaskedMxcsr | 0x0040},
        {"flush to zero, nothing else", kMaskedX87Control, kMaskedMxcsr | 0x8000},
        {"masked, rounding down", uint16_t(kMaskedX87Control | 0x0400), kMaskedMxcsr | 0x2000},
        {"masked, 24-bit precision", uint16_t(kMaskedX87Control & ~0x0300), kMaskedMxcsr},
        {"masked, 64-bit precision", uint16_t(kMaskedX87Control | 0x0300), kMaskedMxcsr},
    };
    for (const Case& host : cases) {
        SCOPED_TRACE(host.what);
        enterHostState(host.x87Control, host.mxcsr, 0);
        const FloatingPointState before = readFloatingPointState();
        FloatingPointState inside{}, insideX87Free{};
        {
            plugin::ExportScope scope;
            inside = readFloatingPointState();
        }
        expectHandedBack(before);
        {
            plugin::X87FreeExportScope scope;
            insideX87Free = readFloatingPointState();
        }
        expectHandedBack(before);
        EXPECT_EQ(inside.mxcsr & 0xFFC0, kMaskedMxcsr) << std::hex << inside.mxcsr;
        EXPECT_EQ(inside.x87Control & 0x0F3F, 0x023F) << std::hex << inside.x87Control;
        EXPECT_EQ(insideX87Free.mxcsr & 0xFFC0, kMaskedMxcsr) << std::hex << insideX87Free.mxcsr;
        // Without x87 code the precision may stay the host's.
        EXPECT_EQ(insideX87Free.x87Control & 0x0C3F, 0x003F) << std::hex << insideX87Free.x87Control;
    }
}

// A host that entered with an unmasked x87 exception pending (invalid raised
// under its unmasked invalid, so the error summary and busy bits are set)
// gets it back pending, however the body's own x87 flags changed the
// status word.
TEST_F(ExportScopeTest, AnUnmaskedExceptionPendingOnEntryIsPendingAgainOnReturn) {
    constexpr uint16_t kInvalidUnmasked = 0x027E, kInvalid = 0x0001, kSummaryAndBusy = 0x8080;
    enterHostState(kInvalidUnmasked, kMaskedMxcsr, 0);
    raiseX87Flags(kInvalid | kSummaryAndBusy);
    const FloatingPointState before = readFloatingPointState();
    ASSERT_EQ(before.x87Status & 0x80FF, kInvalid | kSummaryAndBusy) << std::hex << before.x87Status;
    {
        plugin::ExportScope scope;
        raiseOnX87();  // invalid, zero-divide, overflow: masked in here
    }
    const FloatingPointState after = readFloatingPointState();
    __asm__ volatile("fnclex");  // before anything else runs on the x87
    EXPECT_EQ(after.x87Control, before.x87Control);
    EXPECT_EQ(after.x87Status & 0x80FF, before.x87Status & 0x80FF) << std::hex << after.x87Status;
}

#endif
