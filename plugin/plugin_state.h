// Everything a loaded plug-in remembers: the static table of array instances,
// the instance the host has made current, the plug-in-wide flags and the room.
// Nothing is allocated; one PluginState lives in static storage per library.
#pragma once

#include <atomic>
#include <cstdint>

#include "geometry/euler_angles.h"
#include "geometry/vector3.h"
#include "models/model_definition.h"
#include "plugin/parameters.h"

namespace plugin {

using models::kBandCount;
using models::kCellCapacity;

struct Cell {
    int32_t kind = 0;  // cabinet kind; always 0 in single-kind products
    float splayDeg = 0.0f;
    geometry::Vector3 position;
    geometry::EulerAngles angles;
};

struct Instance {
    bool inUse = false;
    geometry::Vector3 arrayPosition;
    geometry::EulerAngles arrayAngles;
    geometry::Vector3 seatPosition;
    // The seat's distance from the array position and its near-field loss,
    // kept whenever either position is set: the response reads them for
    // every cell. Zero matches the zero positions of a slot never used.
    float seatDistanceM = 0.0f;
    float seatNearFieldLossDb = 0.0f;
    float transitionDistanceM[kBandCount] = {};
    // 10 log10 of the transition distances, at least 1 m; kept with them so
    // that the response computes no logarithm per band. Zero matches the zero
    // distances of a slot never laid out.
    float farFieldOffsetDb[kBandCount] = {};
    float filterGainDb[kBandCount] = {};
    float filterPhaseDeg[kBandCount] = {};
    int32_t cellCount = 0;
    Cell cells[kCellCapacity] = {};
    // Counts the changes of what the response works out once per seat: the
    // seat, the cells' poses, the transition distances and the filter.
    uint32_t responseVersion = 0;
};

// The cell behind a host component number, or nullptr outside 1..cell count.
inline Cell* componentCell(Instance& instance, int32_t number) {
    return number >= 1 && number <= instance.cellCount ? &instance.cells[number - 1] : nullptr;
}

// Called after any change of the seat, the cells' poses, the transition
// distances or the filter, so that the next response works afresh what it
// keeps per seat. Changes of the cell count or kinds alone need no call.
// The count goes up after the changed inputs are stored, never before: a
// response stamped with the new count has read the new inputs.
inline void responseInputsChanged(Instance& instance) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    ++instance.responseVersion;
}

// After the seat, the array or its cells moved: refreshes the seat distance.
void seatOrCellsMoved(Instance& instance);

// Applied to a newly allocated instance and to a setup blob with a wrong
// magic: the default cells, and nothing else. The poses are left stale.
void resetToDefaults(Instance& instance, const models::ModelDefinition& model);

class InstanceTable {
public:
    static constexpr int32_t kSlotCount = 256;
    static constexpr int32_t kNoInstance = -1;

    // Lowest free slot from 1 up, made current and reset; kNoInstance when full.
    int32_t allocate(const models::ModelDefinition& model);
    // How often a slot has been allocated: a holder of an id can tell the
    // array it knew from a later one in the same slot.
    uint32_t allocations(int32_t id) const { return id >= 0 && id < kSlotCount ? allocations_[id] : 0; }
    void makeCurrent(int32_t id) { currentId_ = id; }
    int32_t currentId() const { return currentId_; }
    // The slot an id names, or nullptr for an id outside 0..255.
    Instance* find(int32_t id) { return id >= 0 && id < kSlotCount ? &slots_[id] : nullptr; }
    // The current instance, or nullptr while the current id names no slot.
    Instance* current() { return find(currentId_); }
    Instance& slot(int32_t id) { return slots_[id]; }

private:
    Instance slots_[kSlotCount] = {};
    uint32_t allocations_[kSlotCount] = {};
    int32_t currentId_ = kNoInstance;
};

// The three plug-in-wide flags the host may set. Flag 1 is stored negated, so
// that the zero byte at load reads as true.
class Flags {
public:
    static constexpr bool isFlagType(int32_t type) { return type == 1 || type == 2 || type == 4; }

    // Results as the host reads them: -1 for true, 0 for false. Types other than
    // 1, 2 and 4 are not flags; get leaves `out` alone and set ignores them.
    void set(int32_t type, int32_t value);
    bool get(int32_t type, int32_t& out) const;

    // True while levels leave air absorption out.
    bool absorptionDisabled() const { return flag1Negated_ == 0; }

private:
    uint8_t flag1Negated_ = 0;
    uint8_t flag2_ = 0;
    uint8_t flag4_ = 0;
};

struct Room {
    float speedOfSoundMPerS = kRoomParameters[kSpeedOfSoundIndex - 1].defaultValue;
    float humidityPercent = kRoomParameters[kHumidityIndex - 1].defaultValue;
    // dB per metre by band; zero until the humidity is first set.
    float airAbsorptionDbPerM[kBandCount] = {};
};

struct PluginState {
    const models::ModelDefinition& model;
    InstanceTable instances;
    Flags flags;
    Room room;
    // Counts the changes of the room and the flags, which every instance's
    // response hears.
    uint32_t roomVersion = 0;

    constexpr explicit PluginState(const models::ModelDefinition& m) : model(m) {}
};

}  // namespace plugin
