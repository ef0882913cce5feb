// Entered at the top of every export. Hosts may run with floating-point
// exceptions unmasked, another rounding mode or flush-to-zero; the plug-in
// computes with all exceptions masked and round-to-nearest, so that a log of
// zero or a NaN seat never traps and results do not depend on the host. On
// every return the host's control words and exception flags come back as they
// were: a NaN seat raises invalid in here, and a host that runs masked, calls
// us and later unmasks or tests its flags must see only its own.
#pragma once

#include <cstdint>

namespace plugin {

// Whether an export's code may run x87 instructions. On 32-bit Windows the C
// library's logarithms, arc tangents and sines and every float result go
// through the x87, and reading its status word on entry and on exit adds
// about a third to a cached level query. An export whose code runs no x87
// instruction (CI_GetCompFR: SSE2 only, down to its arc tangents) cannot
// change the x87 flags of a host that runs masked, so it does not read them.
enum class X87 { MayBeUsed, NotUsed };

template <X87 kX87>
class BasicExportScope {
public:
#if defined(__i386__) || defined(__x86_64__)
    // Every statement here and in the destructor clobbers memory: the body's
    // loads, stores and calls, and the arithmetic that depends on them, stay
    // between reading the host's state and handing it back. abi_check's scope
    // check proves the order in the built DLLs.
    BasicExportScope() {
        __asm__ volatile("fnstcw %0" : "=m"(hostX87Control_) : : "memory");
        __asm__ volatile("stmxcsr %0" : "=m"(hostMxcsr_) : : "memory");
        // Where the body may run x87 code (the C library's logarithms, arc
        // tangents and sines on 32-bit Windows), its precision is held at 53
        // bits, the Windows default, as well: otherwise their results, and
        // the lazy caches built from them, would follow whichever host
        // called first.
        x87Changed_ = (hostX87Control_ & kX87ControlHeld) != kX87ControlWanted;
        if (kX87 == X87::MayBeUsed || x87Changed_) __asm__ volatile("fnstsw %0" : "=a"(hostX87Status_) : : "memory");
        if (x87Changed_) {
            // fldcw would trap on a flag the host left pending under its
            // unmasked control; the host's flags come back on exit.
            const uint16_t wanted = uint16_t((hostX87Control_ & ~kX87ControlHeld) | kX87ControlWanted);
            __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(wanted) : "memory");
        }
        if ((hostMxcsr_ & kMxcsrControlBits) != kMxcsrWanted) {
            const uint32_t wanted = kMxcsrWanted;
            __asm__ volatile("ldmxcsr %0" : : "m"(wanted) : "memory");
        }
    }
    ~BasicExportScope() {
        if (kX87 == X87::MayBeUsed || x87Changed_) restoreX87();
        // The host's word brings back its control and its flags at once, so
        // whatever was raised in here is gone; SSE flags never trap on their
        // own, so the order is free. Loading it unconditionally is cheaper
        // than reading the flags to see whether they changed: stmxcsr waits
        // for the body's arithmetic, ldmxcsr does not. The memory clobber
        // keeps the body's stores, and the arithmetic behind them, before it.
        __asm__ volatile("ldmxcsr %0" : : "m"(hostMxcsr_) : "memory");
    }

private:
    void restoreX87() {
        uint16_t status;
        __asm__ volatile("fnstsw %0" : "=a"(status) : : "memory");
        const uint16_t hostFlags = hostX87Status_ & kX87Flags;
        if (!x87Changed_ && (status & kX87Flags) == hostFlags) return;
        if (hostFlags == 0) {
            // fnclex first: a flag raised here must not be pending under the
            // host's unmasked control.
            __asm__ volatile("fnclex");
            if (x87Changed_) __asm__ volatile("fldcw %0" : : "m"(hostX87Control_));
            return;
        }
        // The host had flags of its own and ours differ. fnclex cannot keep
        // some and drop others, and x87 flags cannot be set but through the
        // environment: rewrite its status word's flags and its control word.
        // Rare (only a call that raises a new x87 flag over the host's), so
        // the slower fnstenv and fldenv stay off the common path.
        uint16_t environment[14];  // 28 bytes: control word, status word at words 0 and 2
        __asm__ volatile("fnstenv %0" : "=m"(environment));
        environment[0] = hostX87Control_;
        environment[2] = uint16_t((environment[2] & ~kX87StatusFromHost) | (hostX87Status_ & kX87StatusFromHost));
        __asm__ volatile("fldenv %0" : : "m"(environment));
    }

    static constexpr uint16_t kX87ExceptionMasks = 0x003F;
    static constexpr uint16_t kX87Rounding = 0x0C00;  // 00: to nearest
    static constexpr uint16_t kX87Precision = 0x0300;
    static constexpr uint16_t kX87Precision53Bits = 0x0200;
    // The control bits the scope holds, and their values in it: exceptions
    // masked, to nearest, and where x87 code may run, 53-bit precision.
    static constexpr uint16_t kX87ControlHeld =
        kX87ExceptionMasks | kX87Rounding | (kX87 == X87::MayBeUsed ? kX87Precision : 0);
    static constexpr uint16_t kX87ControlWanted =
        kX87ExceptionMasks | (kX87 == X87::MayBeUsed ? kX87Precision53Bits : 0);
    // Exception flags and stack fault.
    static constexpr uint16_t kX87Flags = 0x007F;
    // Those, the error summary and the busy bit; the stack top and the
    // condition codes stay as they are. (fldenv sets the summary and busy
    // bits again from the flags and the control word it loads, so the
    // host's pending unmasked exception comes back pending either way.)
    static constexpr uint16_t kX87StatusFromHost = 0x80FF;
    // Exceptions masked, round to nearest, no flush-to-zero, no denormals-are-zero.
    static constexpr uint32_t kMxcsrControlBits = 0xFFC0;
    static constexpr uint32_t kMxcsrWanted = 0x1F80;

    uint16_t hostX87Control_ = 0;
    uint16_t hostX87Status_ = 0;
    uint32_t hostMxcsr_ = 0;
    bool x87Changed_ = false;
#else
    BasicExportScope() = default;
#endif
public:
    BasicExportScope(const BasicExportScope&) = delete;
    BasicExportScope& operator=(const BasicExportScope&) = delete;
};

using ExportScope = BasicExportScope<X87::MayBeUsed>;
using X87FreeExportScope = BasicExportScope<X87::NotUsed>;

}  // namespace plugin
