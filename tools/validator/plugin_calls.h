// The plug-in as the validator calls it: the table of exports, and a wrapper
// through which every call goes, which counts it, notes it for the crash
// handler and checks that it hands the host's floating-point control state
// back unchanged. In the unmasked mode the host runs with the invalid,
// divide-by-zero and overflow exceptions unmasked, as some hosts do, and a
// call that leaves such an exception pending is a failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_api.h"
#include "tools/host/plugin_library.h"
#include "tools/validator/crash_note.h"
#include "tools/validator/report.h"

namespace validator {

using host::ExportTable;
using host::kExportCount;

// The table of a loaded library; names of the exports it lacks in `missing`.
ExportTable exportTableOf(const host::PluginLibrary& library, std::vector<std::string>* missing = nullptr);

enum class HostFloatingPoint { Masked, Unmasked };

struct FloatingPointControl {
    uint32_t mxcsr = 0;
    uint16_t x87 = 0;
};

class Plugin {
public:
    Plugin(const ExportTable& exports, Report& report) : exports_(exports), report_(report) {}

    void setHostFloatingPoint(HostFloatingPoint mode) { mode_ = mode; }
    const ExportTable& exports() const { return exports_; }
    Report& report() const { return report_; }

#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    template <typename... Args>                            \
    result name(Args... args) {                            \
        Call call(*this, #name);                           \
        return exports_.name(args...);                     \
    }
#include "plugin/exports.inc"

private:
    class Call {
    public:
        Call(Plugin& plugin, const char* name);
        ~Call();

    private:
        Plugin& plugin_;
        const char* name_;
        FloatingPointControl host_;
        FloatingPointControl handed_;
    };

    ExportTable exports_;
    Report& report_;
    HostFloatingPoint mode_ = HostFloatingPoint::Masked;
};

}  // namespace validator
