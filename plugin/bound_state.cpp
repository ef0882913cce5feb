#include "plugin/bound_state.h"

#include <type_traits>

namespace plugin {

constinit PluginState gState{models::kBoundModel};

}  // namespace plugin

// Every export matches the pointer type the host calls it through, and on the
// 32-bit target pops exactly the bytes the module-definition file names.
#define PLUGIN_EXPORT(result, name, parameters, stackBytes)                                  \
    static_assert(std::is_same_v<decltype(static_cast<plugin_api::name>(&name)),            \
                                 plugin_api::name>);                                        \
    static_assert(sizeof(void*) != 4 ||                                                     \
                  plugin_api::StackBytes<plugin_api::name>::value == stackBytes);
#include "plugin/exports.inc"
