// Instance exports: allocating, selecting and releasing array instances.
#include "plugin/bound_state.h"

using plugin::ExportScope;
using plugin::gState;
using plugin::Instance;
using plugin::onCurrentInstance;

// ---- Instances ----

PLUGIN_API int32_t PLUGIN_CALL CI_GetFreeID() noexcept {
    ExportScope scope;
    return gState.instances.allocate(gState.model);
}

PLUGIN_API int32_t PLUGIN_CALL CI_MakeCurrent(int32_t id) noexcept {
    ExportScope scope;
    gState.instances.makeCurrent(id);
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL CI_Release() noexcept {
    ExportScope scope;
    return onCurrentInstance([](Instance& instance) {
        instance.inUse = false;
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetPulse(void*, void*, void*) noexcept {
    ExportScope scope;
    return onCurrentInstance([](Instance&) { return 0; });
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetPulses(void*, void*) noexcept {
    ExportScope scope;
    return onCurrentInstance([](Instance&) { return 0; });
}
