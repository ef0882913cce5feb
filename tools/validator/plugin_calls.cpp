#include "tools/validator/plugin_calls.h"

#include <cstdio>

namespace validator {

namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kHasFloatingPointControl = true;

FloatingPointControl readControl() {
    FloatingPointControl c;
    __asm__ volatile("stmxcsr %0" : "=m"(c.mxcsr));
    __asm__ volatile("fnstcw %0" : "=m"(c.x87));
    return c;
}

void writeControl(const FloatingPointControl& c) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(c.x87));
    __asm__ volatile("ldmxcsr %0" : : "m"(c.mxcsr));
}

uint16_t x87Status() {
    uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    return status;
}
#else
constexpr bool kHasFloatingPointControl = false;
FloatingPointControl readControl() { return {}; }
void writeControl(const FloatingPointControl&) {}
uint16_t x87Status() { return 0; }
#endif

// Invalid, divide-by-zero and overflow: the exceptions a host may unmask.
constexpr uint32_t kMxcsrTrapMasks = 0x0080 | 0x0200 | 0x0400;
constexpr uint32_t kMxcsrControl = 0xFFC0;
constexpr uint16_t kX87TrapMasks = 0x0001 | 0x0004 | 0x0008;
constexpr uint16_t kX87ExceptionFlags = 0x003F;

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", unsigned(value));
    return text;
}

}  // namespace

ExportTable exportTableOf(const host::PluginLibrary& library, std::vector<std::string>* missing) {
    const ExportTable& table = library;
    if (missing != nullptr) {
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    if (table.name == nullptr) missing->push_back(#name);
#include "plugin/exports.inc"
    }
    return table;
}

Plugin::Call::Call(Plugin& plugin, const char* name) : plugin_(plugin), name_(name) {
    ++plugin.report_.figures.calls;
    crashNote().setExport(name);
    if (!kHasFloatingPointControl) return;
    host_ = readControl();
    handed_ = host_;
    if (plugin.mode_ == HostFloatingPoint::Unmasked) {
        handed_.mxcsr = (host_.mxcsr & ~kMxcsrTrapMasks) & ~0x3Fu;
        handed_.x87 = uint16_t(host_.x87 & ~kX87TrapMasks);
        writeControl(handed_);
    }
}

Plugin::Call::~Call() {
    if (!kHasFloatingPointControl) return;
    const FloatingPointControl after = readControl();
    Report& report = plugin_.report_;
    if ((after.mxcsr & kMxcsrControl) != (handed_.mxcsr & kMxcsrControl)) {
        report.fail(std::string(name_) + " changed the host's SSE control word from " + hex(handed_.mxcsr) + " to " +
                    hex(after.mxcsr));
    }
    if (after.x87 != handed_.x87) {
        report.fail(std::string(name_) + " changed the host's x87 control word from " + hex(handed_.x87) + " to " +
                    hex(after.x87));
    }
    if (plugin_.mode_ == HostFloatingPoint::Unmasked) {
        const uint16_t pending = uint16_t(x87Status() & kX87ExceptionFlags & ~handed_.x87 & kX87TrapMasks);
        if (pending != 0) {
            report.fail(std::string(name_) + " left unmasked x87 exception flags " + hex(pending) +
                        " pending for the host");
        }
        writeControl(host_);
    }
}

}  // namespace validator
