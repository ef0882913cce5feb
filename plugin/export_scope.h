// Entered at the top of every export. Hosts may run with floating-point
// exceptions unmasked, another rounding mode or flush-to-zero; the plug-in
// computes with all exceptions masked and default rounding, so that a log of
// zero or a NaN seat never traps and results do not depend on the host. On
// return the host's control words come back and the x87 status raised here is
// cleared, so no deferred exception fires later in the host.
#pragma once

#include <cstdint>

namespace plugin {

class ExportScope {
public:
#if defined(__i386__) || defined(__x86_64__)
    ExportScope() {
        __asm__ volatile("fnstcw %0" : "=m"(hostX87Control_));
        __asm__ volatile("stmxcsr %0" : "=m"(hostMxcsr_));
        const uint16_t x87 = kX87AllMaskedExtendedNearest;
        const uint32_t mxcsr = kMxcsrAllMaskedNearest;
        __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87));
        __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
    }
    ~ExportScope() {
        __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(hostX87Control_));
        __asm__ volatile("ldmxcsr %0" : : "m"(hostMxcsr_));
    }

private:
    static constexpr uint16_t kX87AllMaskedExtendedNearest = 0x037F;
    static constexpr uint32_t kMxcsrAllMaskedNearest = 0x1F80;
    uint16_t hostX87Control_ = 0;
    uint32_t hostMxcsr_ = 0;
#else
    ExportScope() = default;
#endif
public:
    ExportScope(const ExportScope&) = delete;
    ExportScope& operator=(const ExportScope&) = delete;
};

}  // namespace plugin
