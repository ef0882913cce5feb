// The floating-point state a host leaves in the x87 and SSE units, read and
// set as a host would, for the tests that check every export hands it back.
// x86 only.
#pragma once

#include <cstdint>

namespace fp_test {

struct FloatingPointState {
    uint16_t x87Control;
    uint16_t x87Status;
    uint32_t mxcsr;
};

inline FloatingPointState readFloatingPointState() {
    FloatingPointState s{};
    __asm__ volatile("fnstcw %0" : "=m"(s.x87Control));
    __asm__ volatile("fnstsw %0" : "=m"(s.x87Status));
    __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
    return s;
}

// Sets both control words as a host would, the x87 flags cleared first so
// that none is pending under an unmasked control.
inline void writeControlState(uint16_t x87Control, uint32_t mxcsr) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87Control));
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// Sets x87 exception flags as a host's own arithmetic would have: only the
// environment can.
inline void raiseX87Flags(uint16_t flags) {
    uint16_t environment[14];
    __asm__ volatile("fnstenv %0" : "=m"(environment));
    environment[2] = uint16_t(environment[2] | flags);
    __asm__ volatile("fldenv %0" : : "m"(environment));
}

// The exception flags in the x87 status word (and in the MXCSR).
inline constexpr uint16_t kX87ExceptionFlags = 0x3F;
// All masked, nearest: the default, as most hosts run (53-bit x87 precision).
inline constexpr uint16_t kMaskedX87Control = 0x027F;
inline constexpr uint32_t kMaskedMxcsr = 0x1F80;
// A host that traps: x87 invalid and zero-divide unmasked, 53-bit precision,
// nearest; SSE invalid unmasked, rounding toward zero with flush-to-zero.
inline constexpr uint16_t kUnmaskedX87Control = 0x027A;
inline constexpr uint32_t kUnmaskedMxcsr = 0xFF00;
// Denormal, underflow and precision: flags a host's own arithmetic leaves
// behind, masked in every host state the tests use; the same bits in both
// words.
inline constexpr uint16_t kHostsOwnFlags = 0x32;

// A host's control words, and the exception flags its own arithmetic left
// raised in both units.
struct HostState {
    const char* what;
    uint16_t x87Control;
    uint32_t mxcsr;
    uint16_t flags;
};

}  // namespace fp_test
