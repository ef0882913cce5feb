#include "plugin/plugin_state.h"

#include "acoustics/component_response.h"

namespace plugin {

void seatOrCellsMoved(Instance& instance) {
    const acoustics::SeatDistance seat =
        acoustics::seatDistance(geometry::distance(instance.seatPosition, instance.arrayPosition));
    instance.seatDistanceM = seat.distanceM;
    instance.seatNearFieldLossDb = seat.nearFieldLossDb;
    responseInputsChanged(instance);
}

void resetToDefaults(Instance& instance, const models::ModelDefinition& model) {
    instance.cellCount = model.defaultCellCount;
    for (int32_t i = 0; i < model.defaultCellCount; ++i) {
        instance.cells[i].splayDeg = 0.0f;
        instance.cells[i].kind = model.defaultKind;
    }
}

int32_t InstanceTable::allocate(const models::ModelDefinition& model) {
    for (int32_t id = 1; id < kSlotCount; ++id) {
        if (slots_[id].inUse) continue;
        currentId_ = id;
        ++allocations_[id];
        slots_[id].inUse = true;
        resetToDefaults(slots_[id], model);
        return id;
    }
    return kNoInstance;
}

void Flags::set(int32_t type, int32_t value) {
    switch (type) {
    case 1: flag1Negated_ = value == 0; break;
    case 2: flag2_ = value != 0; break;
    case 4: flag4_ = value != 0; break;
    default: break;
    }
}

bool Flags::get(int32_t type, int32_t& out) const {
    switch (type) {
    case 1: out = flag1Negated_ == 0 ? -1 : 0; return true;
    case 2: out = flag2_ != 0 ? -1 : 0; return true;
    case 4: out = flag4_ != 0 ? -1 : 0; return true;
    default: return false;
    }
}

}  // namespace plugin
