// Entered at the top of every export. Hosts may run with floating-point
// exceptions unmasked, another rounding mode or flush-to-zero; the plug-in
// computes with all exceptions masked and round-to-nearest, so that a log of
// zero or a NaN seat never traps and results do not depend on the host. On
// return the host's control words come back; where they had to change, the
// x87 exception flags raised here are cleared, so that no deferred exception
// fires later in the host. A host that already runs with masked exceptions and
// nearest rounding pays only for reading the two control words.
#pragma once

#include <cstdint>

namespace plugin {

class ExportScope {
public:
#if defined(__i386__) || defined(__x86_64__)
    ExportScope() {
        __asm__ volatile("fnstcw %0" : "=m"(hostX87Control_));
        __asm__ volatile("stmxcsr %0" : "=m"(hostMxcsr_));
        // The x87 precision is left alone: only library routines use the x87,
        // and their single-precision results do not depend on it.
        x87Changed_ = (hostX87Control_ & (kX87ExceptionMasks | kX87Rounding)) != kX87ExceptionMasks;
        if (x87Changed_) {
            const uint16_t wanted = uint16_t((hostX87Control_ | kX87ExceptionMasks) & ~kX87Rounding);
            __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(wanted));
        }
        mxcsrChanged_ = (hostMxcsr_ & kMxcsrControlBits) != kMxcsrWanted;
        if (mxcsrChanged_) {
            const uint32_t wanted = kMxcsrWanted;
            __asm__ volatile("ldmxcsr %0" : : "m"(wanted));
        }
    }
    ~ExportScope() {
        if (x87Changed_) __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(hostX87Control_));
        if (mxcsrChanged_) __asm__ volatile("ldmxcsr %0" : : "m"(hostMxcsr_));
    }

private:
    static constexpr uint16_t kX87ExceptionMasks = 0x003F;
    static constexpr uint16_t kX87Rounding = 0x0C00;
    // Exceptions masked, round to nearest, no flush-to-zero, no denormals-are-zero.
    static constexpr uint32_t kMxcsrControlBits = 0xFFC0;
    static constexpr uint32_t kMxcsrWanted = 0x1F80;

    uint16_t hostX87Control_ = 0;
    uint32_t hostMxcsr_ = 0;
    bool x87Changed_ = false;
    bool mxcsrChanged_ = false;
#else
    ExportScope() = default;
#endif
public:
    ExportScope(const ExportScope&) = delete;
    ExportScope& operator=(const ExportScope&) = delete;
};

}  // namespace plugin
