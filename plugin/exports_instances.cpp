// Instance exports: allocating, selecting and releasing array instances.
#include "plugin/bound_state.h"
#include "plugin/setup.h"

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

// ---- Array pose, seat and cell poses ----

namespace {

void writeVector(const geometry::Vector3& v, float* out) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

constexpr float kNoDistance = -1.0f;

}  // namespace

PLUGIN_API int32_t PLUGIN_CALL CI_SetLspkPosition3fv(const float* position) noexcept {
    ExportScope scope;
    if (plugin::anyNull(position)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        instance.arrayPosition = {position[0], position[1], position[2]};
        plugin::layOut(instance, gState.model);  // also refreshes the seat distance
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CI_SetLspkAngles3fv(const float* anglesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(anglesDeg)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        instance.arrayAngles.set(anglesDeg[0], anglesDeg[1], anglesDeg[2], geometry::AngleUnit::Degrees);
        plugin::layOut(instance, gState.model);
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CI_SetSeatPosition3fv(const float* position) noexcept {
    ExportScope scope;
    if (plugin::anyNull(position)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        instance.seatPosition = {position[0], position[1], position[2]};
        plugin::seatOrCellsMoved(instance);
        return 0;
    });
}

PLUGIN_API float PLUGIN_CALL CI_GetDistance() noexcept {
    ExportScope scope;
    const Instance* instance = gState.instances.current();
    return instance != nullptr ? instance->seatDistanceM : kNoDistance;
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetComponents() noexcept {
    ExportScope scope;
    return onCurrentInstance([](Instance& instance) { return instance.cellCount; });
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetCompPosition3fv(int32_t number, float* position) noexcept {
    ExportScope scope;
    if (plugin::anyNull(position)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        const plugin::Cell* cell = plugin::componentCell(instance, number);
        if (cell == nullptr) return -1;
        writeVector(cell->position, position);
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetCompAngles3fv(int32_t number, float* anglesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(anglesDeg)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        const plugin::Cell* cell = plugin::componentCell(instance, number);
        if (cell == nullptr) return -1;
        for (int i = 0; i < 3; ++i) anglesDeg[i] = cell->angles.degrees(i);
        return 0;
    });
}

PLUGIN_API float PLUGIN_CALL CI_GetCompDistance(int32_t number) noexcept {
    ExportScope scope;
    Instance* instance = gState.instances.current();
    if (instance == nullptr) return kNoDistance;
    const plugin::Cell* cell = plugin::componentCell(*instance, number);
    return cell != nullptr ? geometry::distance(cell->position, instance->seatPosition) : kNoDistance;
}
