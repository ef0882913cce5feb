// Descriptor exports: fixed, plug-in-wide answers about the product.
#include "acoustics/model_data.h"
#include "plugin/bound_state.h"
#include "plugin/descriptor.h"

using plugin::ExportScope;
using plugin::gState;

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
    if (plugin::anyNull(locked)) return -1;
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
    if (plugin::anyNull(name)) return -1;
    *name = gState.model.displayName;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetManufacturer(const char** manufacturer) noexcept {
    ExportScope scope;
    if (plugin::anyNull(manufacturer)) return -1;
    *manufacturer = gState.model.manufacturer;
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetSymmetry(int32_t* symmetry) noexcept {
    ExportScope scope;
    if (plugin::anyNull(symmetry)) return -1;
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
    if (plugin::anyNull(flags21)) return -1;
    const int32_t* flags = acoustics::validBandFlags(gState.model);
    for (int band = 0; band < models::kBandCount; ++band) flags21[band] = flags[band];
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetDataResolution(const char** text) noexcept {
    ExportScope scope;
    if (plugin::anyNull(text)) return -1;
    *text = acoustics::dataResolutionText(gState.model);
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLGetFlag(int32_t type, int32_t* value) noexcept {
    ExportScope scope;
    int32_t answer = 0;
    if (gState.flags.get(type, answer)) {
        if (plugin::anyNull(value)) return -1;
        *value = answer;
    }
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL DLLSetFlag(int32_t type, const int32_t* value) noexcept {
    ExportScope scope;
    if (plugin::Flags::isFlagType(type)) {
        if (plugin::anyNull(value)) return -1;
        gState.flags.set(type, *value);
        ++gState.roomVersion;  // flag 1 takes absorption in or out
    }
    return 0;
}

// ---- The room-parameter count, which may share DLLClass's entry point ----

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
