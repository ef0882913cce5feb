// Response exports: each cell's levels toward the seat, its on-axis level and
// its directivity factor. CI_GetCompFR runs in the host's innermost loop.
#include "acoustics/model_data.h"
#include "plugin/bound_state.h"
#include "plugin/response.h"

using plugin::ExportScope;
using plugin::gState;
using plugin::Instance;
using plugin::onCurrentInstance;

namespace {

const models::ModelDefinition& kModel = models::kBoundModel;

// What each instance's response keeps of its seat, by slot.
plugin::SeatResponse gSeatResponses[plugin::InstanceTable::kSlotCount];

// Cabinet kind for the single-band queries: products with one kind do not
// read the cell number; the others need a cell of the array.
bool kindForQuery(Instance& instance, int32_t number, int32_t& kind) {
    if (kModel.kindCount == 1) {
        kind = 0;
        return true;
    }
    const plugin::Cell* cell = plugin::componentCell(instance, number);
    if (cell == nullptr) return false;
    kind = cell->kind;
    return true;
}

bool isBandNumber(int32_t band) { return band >= 1 && band <= models::kBandCount; }

}  // namespace

PLUGIN_API int32_t PLUGIN_CALL CI_GetCompFR(int32_t number, float* levelsDb, float* phasesDeg,
                                            float* timeS) noexcept {
    plugin::X87FreeExportScope scope;  // the host's inner loop
    if (plugin::anyNull(levelsDb, phasesDeg, timeS)) return -1;
    // The current id read once: the instance and its kept response are one slot's.
    const int32_t id = gState.instances.currentId();
    Instance* instance = gState.instances.find(id);
    if (instance == nullptr || plugin::componentCell(*instance, number) == nullptr) return -1;
    plugin::componentResponse(gState, *instance, gSeatResponses[id], number - 1, levelsDb, phasesDeg, timeS);
    return 0;
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetCompSPL1m(int32_t number, int32_t band, float* levelDb) noexcept {
    ExportScope scope;
    if (plugin::anyNull(levelDb)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        int32_t kind = 0;
        if (!isBandNumber(band) || !kindForQuery(instance, number, kind)) return -1;
        *levelDb = acoustics::onAxisLevelDb(kModel, kind, band - 1) + instance.filterGainDb[band - 1];
        return 0;
    });
}

PLUGIN_API int32_t PLUGIN_CALL CI_GetCompDirectivity(int32_t number, int32_t band, float* factor) noexcept {
    ExportScope scope;
    if (plugin::anyNull(factor)) return -1;
    return onCurrentInstance([&](Instance& instance) {
        int32_t kind = 0;
        if (!isBandNumber(band) || !kindForQuery(instance, number, kind)) return -1;
        *factor = acoustics::directivityFactor(kModel, kind, band - 1);
        return 0;
    });
}
