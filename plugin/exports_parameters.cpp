// Room and input parameter exports: the room values shared by all instances,
// and each instance's setup blob and filter.
#include <cstring>

#include "acoustics/air_absorption.h"
#include "plugin/bound_state.h"
#include "plugin/descriptor.h"
#include "plugin/parameters.h"
#include "plugin/setup.h"

using plugin::ExportScope;
using plugin::gState;
using plugin::Instance;
using plugin::onCurrentInstance;

namespace {

template <size_t N>
void copyLabel(const char (&text)[N], char* out) {
    std::memcpy(out, text, N);  // with the NUL
}

void copyLabel(const char* text, char* out) { std::memcpy(out, text, std::strlen(text) + 1); }

void fill(float* values, float value) {
    for (int band = 0; band < models::kBandCount; ++band) values[band] = value;
}

}  // namespace

// ---- Room parameters ----

PLUGIN_API int32_t PLUGIN_CALL RP_GetID(int32_t index) noexcept {
    ExportScope scope;
    return index;
}

PLUGIN_API int32_t PLUGIN_CALL RP_GetType(int32_t) noexcept {
    ExportScope scope;
    return plugin::kRoomParameterType;
}

PLUGIN_API int32_t PLUGIN_CALL RP_GetLabel(int32_t index, char* label) noexcept {
    ExportScope scope;
    if (const plugin::RoomParameter* p = plugin::roomParameter(index)) {
        if (plugin::anyNull(label)) return -1;
        copyLabel(p->label, label);
    }
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL RP_GetDefault(int32_t index, float* value) noexcept {
    ExportScope scope;
    if (const plugin::RoomParameter* p = plugin::roomParameter(index)) {
        if (plugin::anyNull(value)) return -1;
        *value = p->defaultValue;
    }
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL RP_GetMinimum(int32_t index, float* value) noexcept {
    ExportScope scope;
    if (const plugin::RoomParameter* p = plugin::roomParameter(index)) {
        if (plugin::anyNull(value)) return -1;
        *value = p->minimum;
    }
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL RP_GetMaximum(int32_t index, float* value) noexcept {
    ExportScope scope;
    if (const plugin::RoomParameter* p = plugin::roomParameter(index)) {
        if (plugin::anyNull(value)) return -1;
        *value = p->maximum;
    }
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL RP_SetValue(int32_t index, float value) noexcept {
    ExportScope scope;
    plugin::Room& room = gState.room;
    if (index == plugin::kSpeedOfSoundIndex) {
        room.speedOfSoundMPerS = value;
    } else if (index == plugin::kHumidityIndex) {
        room.humidityPercent = value;
        acoustics::computeAirAbsorption(value, room.airAbsorptionDbPerM);
    }
    ++gState.roomVersion;  // every instance works its levels afresh
    return 0;
}

// ---- Input parameter descriptors: answered without an instance ----

PLUGIN_API int32_t PLUGIN_CALL IP_GetNumber() noexcept {
    ExportScope scope;
    return plugin::kInputParameterCount;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetID(int32_t index) noexcept {
    ExportScope scope;
    return index == plugin::kSetupParameterIndex ? plugin::kSetupParameterId : index;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetType(int32_t index) noexcept {
    ExportScope scope;
    return index == plugin::kSetupParameterIndex ? plugin::kSetupParameterType : index;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetLabel(int32_t index, char* label) noexcept {
    ExportScope scope;
    if (index == plugin::kSetupParameterIndex) {
        if (plugin::anyNull(label)) return -1;
        copyLabel(plugin::kSetupParameterLabel, label);
    }
    return 0;
}

// The setup blob has no default, minimum or maximum.
PLUGIN_API int32_t PLUGIN_CALL IP_GetDefault(int32_t index, void*) noexcept {
    ExportScope scope;
    return index == plugin::kSetupParameterIndex ? -1 : 0;
}

#if PLUGIN_SHARES_ENTRY_POINTS
// One entry point with IP_GetDefault: the module-definition file maps the
// names on Windows, symbol aliases do it elsewhere.
#if !defined(_WIN32)
PLUGIN_API int32_t PLUGIN_CALL IP_GetMinimum(int32_t, void*) noexcept __attribute__((alias("IP_GetDefault")));
PLUGIN_API int32_t PLUGIN_CALL IP_GetMaximum(int32_t, void*) noexcept __attribute__((alias("IP_GetDefault")));
#endif
#else
PLUGIN_API int32_t PLUGIN_CALL IP_GetMinimum(int32_t index, void*) noexcept {
    ExportScope scope;
    return index == plugin::kSetupParameterIndex ? -1 : 0;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetMaximum(int32_t index, void*) noexcept {
    ExportScope scope;
    return index == plugin::kSetupParameterIndex ? -1 : 0;
}
#endif

PLUGIN_API int32_t PLUGIN_CALL IP_GetFilterDef(float* gainsDb, float* phasesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(gainsDb, phasesDeg)) return -1;
    fill(gainsDb, plugin::kFilterGainDefaultDb);
    fill(phasesDeg, plugin::kFilterPhaseDefaultDeg);
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetFilterMin(float* gainsDb, float* phasesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(gainsDb, phasesDeg)) return -1;
    fill(gainsDb, plugin::kFilterGainMinDb);
    fill(phasesDeg, plugin::kFilterPhaseMinDeg);
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetFilterMax(float* gainsDb, float* phasesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(gainsDb, phasesDeg)) return -1;
    fill(gainsDb, plugin::kFilterGainMaxDb);
    fill(phasesDeg, plugin::kFilterPhaseMaxDeg);
    return 0;
}

// ---- Input parameter values of the current instance ----

PLUGIN_API int32_t PLUGIN_CALL IP_SetValue(int32_t index, const void* blob) noexcept {
    ExportScope scope;
    return onCurrentInstance([&](Instance& instance) {
        if (index != plugin::kSetupParameterIndex) return 0;
        if (plugin::anyNull(blob)) return -1;  // refused, not a blob too short: no reset
        const auto outcome =
            plugin::applySetupBlob(instance, gState.model, static_cast<const unsigned char*>(blob));
        return outcome == plugin::SetupOutcome::Accepted ? 0 : -1;
    });
}

PLUGIN_API int32_t PLUGIN_CALL IP_GetValue(int32_t index, void* buffer) noexcept {
    ExportScope scope;
    return onCurrentInstance([&](Instance& instance) {
        if (index != plugin::kSetupParameterIndex) return 0;
        if (plugin::anyNull(buffer)) return -1;
        auto* bytes = static_cast<unsigned char*>(buffer);
        uint32_t sizeWord;
        std::memcpy(&sizeWord, bytes, sizeof sizeWord);
        const uint32_t size = plugin::setupBlobSize(instance, gState.model);
        if (sizeWord == 0) {
            std::memcpy(bytes, &size, sizeof size);
            return 0;
        }
        // The first word is the length of the host's buffer. One shorter than
        // the blob (the size of another array, or of this one before it grew)
        // cannot take it: the bytes past it belong to someone else.
        if (sizeWord < size) return -1;
        plugin::writeSetupBlobBody(instance, gState.model, bytes);
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL IP_SetFilter(const float* gainsDb, const float* phasesDeg) noexcept {
    ExportScope scope;
    if (plugin::anyNull(gainsDb, phasesDeg)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        plugin::setFilter(instance, gainsDb, phasesDeg);
        return 0;
    });
}
