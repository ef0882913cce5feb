#include "plugin/response.h"

#include <cstring>

#include "acoustics/component_response.h"
#include "acoustics/model_data.h"
#include "geometry/rotation.h"

namespace plugin {

namespace {

// The absorption table while flag 1 leaves absorption out.
constexpr float kNoAbsorptionDbPerM[kBandCount] = {};

}  // namespace

void componentResponse(const PluginState& state, const Instance& instance, const Cell& cell,
                       float* levelsDb, float* phasesDeg, float* timeS) {
    const models::ModelDefinition& model = state.model;
    // The seat in the cell's own axes, by the exact inverse of its rotation.
    const geometry::Vector3 seat =
        geometry::inverseRotate(instance.seatPosition - cell.position, cell.angles, model.angles.order);
    const acoustics::ResponseTables tables{
        acoustics::balloonBlock(model, cell.kind, 0),
        acoustics::onAxisLevelsDb(model, cell.kind),
        instance.filterGainDb,
        state.flags.absorptionDisabled() ? kNoAbsorptionDbPerM : state.room.airAbsorptionDbPerM,
        instance.farFieldOffsetDb,
    };
    // Every cell of the array is heard over the seat's distance from the array.
    acoustics::componentLevels(acoustics::seatDirection(seat),
                               {instance.seatDistanceM, instance.seatNearFieldLossDb}, tables, levelsDb);
    std::memcpy(phasesDeg, instance.filterPhaseDeg, sizeof instance.filterPhaseDeg);
    *timeS = instance.seatDistanceM / state.room.speedOfSoundMPerS;
}

}  // namespace plugin
