// The plug-in's one static state, bound to the deliverable's model, and the
// helpers every export body uses. Included only by export sources, which the
// build compiles once per deliverable.
#pragma once

#include <type_traits>

#include "models/bound_model.h"
#include "plugin/export_scope.h"
#include "plugin/plugin_api.h"
#include "plugin/plugin_state.h"

#if !defined(PLUGIN_SHARES_ENTRY_POINTS)
#error "the build says whether this deliverable shares entry points"
#endif

namespace plugin {

extern PluginState gState;

// Whether the host handed over NULL for any of these pointers. No working
// host does; one with a bug gets -1 with nothing read, written or changed,
// instead of a fault in its own process. Each export tests its pointers
// before the first use; a compare and a branch that is never taken.
template <typename... Pointers>
inline bool anyNull(Pointers... pointers) {
    static_assert((std::is_pointer_v<Pointers> && ...), "anyNull takes the host's pointers");
    return ((pointers == nullptr) || ...);
}

// Runs body on the current instance; -1 while no valid instance is current.
template <typename Body>
int32_t onCurrentInstance(Body body) {
    Instance* instance = gState.instances.current();
    return instance != nullptr ? body(*instance) : -1;
}

}  // namespace plugin
