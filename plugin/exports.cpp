// The export bodies. Compiled once per deliverable, bound to its model.
// Each body is a thin call into the portable core.
#include <type_traits>

#include "models/bound_model.h"
#include "plugin/descriptor.h"
#include "plugin/export_scope.h"
#include "plugin/plugin_api.h"
#include "plugin/plugin_state.h"

#if !defined(PLUGIN_SHARES_ENTRY_POINTS)
#error "the build says whether this deliverable shares entry points"
#endif

// Every export matches the pointer type the host calls it through, and on the
// 32-bit target pops exactly the bytes the module-definition file names.
#define PLUGIN_EXPORT(result, name, parameters, stackBytes)                          \
    static_assert(std::is_same_v<decltype(static_cast<plugin_api::name>(&name)),    \
                                 plugin_api::name>);                                \
    static_assert(sizeof(void*) != 4 || plugin_api::StackBytes<plugin_api::name>::value == \
                                            stackBytes);
#include "plugin/exports.inc"

namespace {

using plugin::ExportScope;
using plugin::Instance;

constinit plugin::PluginState gState{models::kBoundModel};

// Runs body on the current instance; -1 while no valid instance is current.
template <typename Body>
int32_t onCurrentInstance(Body body) {
    Instance* instance = gState.instances.current();
    return instance != nullptr ? body(*instance) : -1;
}

}  // namespace

// ---- Descriptor ----

PLUGIN_API int32_t PLUGIN_CALL DLLVersion() noexcept {
    ExportScope scope;
    return models::kInterfaceVersion;
}

PLUGIN_API int32_t PLUGIN_CALL DLLClass() noexcept {
    ExportScope scope;
    return plugin::kPluginClass;
}

PLUGIN_API int32_t PLUGIN_CALL DLLLock(int32_t* locked) noexcept {
    ExportScope scope;
    *locked = 0;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetCaps(int32_t cap) noexcept {
    ExportScope scope;
    return plugin::capability(cap);
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetComponents() noexcept {
    ExportScope scope;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetName(const char** name) noexcept {
    ExportScope scope;
    *name = gState.model.displayName;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetManufacturer(const char** manufacturer) noexcept {
    ExportScope scope;
    *manufacturer = gState.model.manufacturer;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetSymmetry(int32_t* symmetry) noexcept {
    ExportScope scope;
    *symmetry = -1;
    return 0;
}

namespace {
int32_t notProvided() {
    ExportScope scope;
    return -1;
}
}  // namespace

PLUGIN_API int32_t PLUGIN_CALL DLLGetSensitivity(void*) noexcept { return notProvided(); }
PLUGIN_API int32_t PLUGIN_CALL DLLGetDirectivity(void*) noexcept { return notProvided(); }
PLUGIN_API int32_t PLUGIN_CALL DLLGetImpedence(void*) noexcept { return notProvided(); }
PLUGIN_API int32_t PLUGIN_CALL DLLGetMaxPower(void*) noexcept { return notProvided(); }

PLUGIN_API int32_t PLUGIN_CALL DLLGetValidBands(int32_t* flags21) noexcept {
    ExportScope scope;
    for (int band = 0; band < models::kBandCount; ++band) flags21[band] = plugin::kBandCarriesData;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetDataResolution(const char** text) noexcept {
    ExportScope scope;
    *text = models::kDataResolutionText;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetFlag(int32_t type, int32_t* value) noexcept {
    ExportScope scope;
    int32_t answer = 0;
    if (gState.flags.get(type, answer)) *value = answer;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLSetFlag(int32_t type, const int32_t* value) noexcept {
    ExportScope scope;
    if (plugin::Flags::isFlagType(type)) gState.flags.set(type, *value);
    return 0;
}

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

// ---- Room parameters ----

#if PLUGIN_SHARES_ENTRY_POINTS
// One entry point with DLLClass: the module-definition file maps the name on
// Windows, a symbol alias does it elsewhere.
#if !defined(_WIN32)
PLUGIN_API int32_t PLUGIN_CALL RP_GetNumber() noexcept __attribute__((alias("DLLClass")));
#endif
#else
PLUGIN_API int32_t PLUGIN_CALL RP_GetNumber() noexcept {
    ExportScope scope;
    return plugin::kRoomParameterCount;
}
#endif
